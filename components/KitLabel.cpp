#include "components/KitLabel.h"
