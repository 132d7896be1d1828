#include "components/KitRgnShadow.h"
