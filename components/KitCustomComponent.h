// Base of the library's non-visual components: the same change protocol as
// the property objects (TKitObject), on a component placed on a form.
#pragma once

#include <string>

#include "components/KitFiler.h"
#include "components/KitObject.h"
#include "framework/Classes.h"

namespace vexa {

class TKitCustomComponent : public fw::TComponent {
public:
  explicit TKitCustomComponent(fw::TComponent* AOwner) : fw::TComponent(AOwner) {}

  // Fires OnChange with this component as sender unless an update is in progress.
  virtual void NotifyChange();
  // Calls NotifyChange; the sender is ignored.
  virtual void SubObjectChanged(fw::TObject* Sender);
  // Extra stored properties (none here).
  virtual void DefineProperties(TKitFiler* Filer);

  void BeginUpdate() { FUpdating = true; }
  void EndUpdate(bool Notify);
  bool Updating() const { return FUpdating; }

  const TKitAboutVar& About() const { return FAbout; }
  void SetAbout(const TKitAboutVar& Value) { FAbout = Value; }

  fw::TNotifyEvent OnChange;

protected:
  // The setter rule: store only a different value, then notify.
  template <class V>
  void SetField(V& Field, const V& Value) {
    if (Field == Value) return;
    Field = Value;
    NotifyChange();
  }

private:
  TKitAboutVar FAbout;
  bool FUpdating = false;
};

}  // namespace vexa
