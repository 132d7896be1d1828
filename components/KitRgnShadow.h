// The drop shadow of a region shape: off until a style is chosen.
#pragma once

#include "components/KitShadow.h"

namespace vexa {

class TKitRgnShadow : public TKitShadow {
public:
  TKitRgnShadow() { FStyle = hssNone; }
};

}  // namespace vexa
