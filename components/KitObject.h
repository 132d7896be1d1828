// Base of the library's property objects: small persistent objects that a
// component owns and publishes as one property, and that report every change
// of a value to their owner through OnChange. Also the path string routines.
#pragma once

#include <string>

#include "components/KitFiler.h"
#include "framework/Classes.h"

namespace vexa {

// A design-time text; nothing reads it at run time.
using TKitAboutVar = std::string;

// The change protocol of the library's property objects and non-visual
// components, on the framework class TBase each stands on.
template <class TBase>
class TKitChanging : public TBase {
public:
  using TBase::TBase;

  // Fires OnChange with this object as sender unless an update is in progress.
  virtual void NotifyChange() {
    if (!FUpdating && OnChange) OnChange(this);
  }
  // Owners wire this (or a handler calling it) to the OnChange of their own
  // property objects so that changes run up the chain. The sender is ignored.
  virtual void SubObjectChanged(fw::TObject* /*Sender*/) { NotifyChange(); }
  // Extra stored properties (none here).
  virtual void DefineProperties(TKitFiler* /*Filer*/) {}

  // The update state is a flag, not a counter: brackets do not nest.
  void BeginUpdate() { FUpdating = true; }
  void EndUpdate(bool Notify) {
    FUpdating = false;
    if (Notify) NotifyChange();
  }
  bool Updating() const { return FUpdating; }

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
  bool FUpdating = false;
};

// The start of an Assign: Source as a T when it is one and not Self itself.
// A source of another kind goes to Inherited (the inherited assignment); both
// it and Self answer nullptr.
template <class T, class F>
T* KitAssignSource(T* Self, fw::TPersistent* Source, F&& Inherited) {
  auto* s = dynamic_cast<T*>(Source);
  if (!s) {
    Inherited();
    return nullptr;
  }
  return s == Self ? nullptr : s;
}

class TKitObject : public TKitChanging<fw::TPersistent> {
public:
  TKitObject() = default;

  // A one-line summary for a property editor; empty here.
  virtual void GetDisplayString(std::string& Text);
};

// Path strings ("\" is the directory separator, here "/").
constexpr char PathSeparator = '/';
// True for an empty string or one of blanks (character 32) only.
bool IsBlankString(const std::string& S);
// S unchanged when it is not blank and ends with the separator, else S with one appended.
std::string AddTrailingBackslash(const std::string& S);
// S unchanged when blank, else S without a final separator.
std::string RemoveTrailingBackslash(const std::string& S);

}  // namespace vexa
