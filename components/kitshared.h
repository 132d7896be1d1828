// The four-list container and the program's shared lists. A TKitContainer holds
// one bitmap list, one image list, one string list and one wave list. One of
// them, made on first use and kept until the program ends, is shared: its bitmap
// and image lists can be named in a control's stored data by the references
// "KITBML30" and "KITIML30" instead of pointing to a list component.
#pragma once

#include <functional>

#include "components/KitFiler.h"
#include "components/kitcont.h"
#include "components/kitimage.h"
#include "components/kitwave.h"

namespace vexa {

class TKitContainer : public TKitBaseContainer {
public:
  explicit TKitContainer(fw::TComponent* AOwner);
  // Clears the lists' change events, then frees them.
  ~TKitContainer() override;

  // While designing, a change of one of this container's lists is copied into
  // the shared container's list of the same kind (not for the shared one itself).
  void SubObjectChanged(fw::TObject* Sender) override;

  TKitBitmapList* BitmapList() const { return FBitmapList; }
  TKitImageList* ImageList() const { return FImageList; }
  TKitStringList* StringList() const { return FStringList; }
  TKitWaveList* WaveList() const { return FWaveList; }
  void SetBitmapList(TKitBitmapList* Value) { FBitmapList->Assign(Value); }
  void SetImageList(TKitImageList* Value) { FImageList->Assign(Value); }
  void SetStringList(TKitStringList* Value) { FStringList->Assign(Value); }
  void SetWaveList(TKitWaveList* Value) { FWaveList->Assign(Value); }

private:
  TKitBitmapList* FBitmapList;
  TKitImageList* FImageList;
  TKitStringList* FStringList;
  TKitWaveList* FWaveList;
};

// The shared container (no owner), made on first use and freed at exit.
TKitContainer* SharedContainer();

// True for the shared bitmap list or the shared image list (false for null).
bool IsSharedList(TKitCustomImageList* List);
// Writes "KITBML30" for the shared bitmap list, "KITIML30" for the shared image
// list, nothing for any other list.
void WriteSharedListRef(TKitWriter* Writer, TKitCustomImageList* List);
// Reads a string: the shared list it names, or null for any other text.
TKitCustomImageList* ReadSharedListRef(TKitReader* Reader);
// The property "Internal" of an object that names List by its reference when
// List is a shared list; reading it hands the named list (or null) to SetList.
void DefineSharedListRef(TKitFiler* Filer, TKitCustomImageList* List,
                         const std::function<void(TKitCustomImageList*)>& SetList);
bool IsImageListConnector(TKitCustomImageList* List);

}  // namespace vexa
