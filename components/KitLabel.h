// The published label.
#pragma once

#include "components/KitCustomLabel.h"

namespace vexa {

class TKitLabel : public TKitCustomLabel {
public:
  using TKitCustomLabel::TKitCustomLabel;
};

}  // namespace vexa
