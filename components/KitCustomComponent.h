// Base of the library's non-visual components: the same change protocol as
// the property objects (TKitObject), on a component placed on a form.
#pragma once

#include <string>

#include "components/KitFiler.h"
#include "components/KitObject.h"
#include "framework/Classes.h"

namespace vexa {

class TKitCustomComponent : public TKitChanging<fw::TComponent> {
public:
  explicit TKitCustomComponent(fw::TComponent* AOwner) : TKitChanging(AOwner) {}

  const TKitAboutVar& About() const { return FAbout; }
  void SetAbout(const TKitAboutVar& Value) { FAbout = Value; }

private:
  TKitAboutVar FAbout;
};

}  // namespace vexa
