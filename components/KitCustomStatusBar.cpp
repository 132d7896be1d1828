#include "components/KitCustomStatusBar.h"
