#include "components/kitshared.h"

#include <memory>

#include "components/KitLibraryState.h"

namespace vexa {

TKitContainer::TKitContainer(fw::TComponent* AOwner) : TKitBaseContainer(AOwner) {
  FBitmapList = new TKitBitmapList(this);
  FImageList = new TKitImageList(this);
  FStringList = new TKitStringList(this);
  FWaveList = new TKitWaveList(this);
  auto changed = [this](fw::TObject* Sender) { SubObjectChanged(Sender); };
  FBitmapList->OnChange = changed;
  FImageList->OnChange = changed;
  FStringList->OnChange = changed;
  FWaveList->OnChange = changed;
}

TKitContainer::~TKitContainer() {
  TKitCustomContainer* lists[4] = {FBitmapList, FImageList, FStringList, FWaveList};
  for (TKitCustomContainer* l : lists) l->OnChange = nullptr;
  for (TKitCustomContainer* l : lists) fw::Free(l);
}

void TKitContainer::SubObjectChanged(fw::TObject* Sender) {
  TKitContainer* shared = SharedContainer();
  if (ComponentState().Contains(fw::csDesigning) && this != shared && Sender) {
    if (Sender == FBitmapList)
      shared->FBitmapList->Assign(FBitmapList);
    else if (Sender == FImageList)
      shared->FImageList->Assign(FImageList);
    else if (Sender == FStringList)
      shared->FStringList->Assign(FStringList);
    else if (Sender == FWaveList)
      shared->FWaveList->Assign(FWaveList);
  }
  TKitBaseContainer::SubObjectChanged(Sender);
}

TKitContainer* SharedContainer() {
  auto& shared = kitlibrary::St().sharedContainer;
  if (!shared) shared = std::make_unique<TKitContainer>(nullptr);
  return shared.get();
}

bool IsSharedList(TKitCustomImageList* List) {
  if (!List) return false;
  TKitContainer* s = SharedContainer();
  return List == s->BitmapList() || List == s->ImageList();
}

void WriteSharedListRef(TKitWriter* Writer, TKitCustomImageList* List) {
  if (!List) return;
  TKitContainer* s = SharedContainer();
  if (List == s->BitmapList())
    Writer->WriteString(KitListSignatures[klkBitmapList]);
  else if (List == s->ImageList())
    Writer->WriteString(KitListSignatures[klkImageList]);
}

TKitCustomImageList* ReadSharedListRef(TKitReader* Reader) {
  std::string ref = Reader->ReadString();
  TKitContainer* s = SharedContainer();
  if (ref == KitListSignatures[klkBitmapList]) return s->BitmapList();
  if (ref == KitListSignatures[klkImageList]) return s->ImageList();
  return nullptr;
}

void DefineSharedListRef(TKitFiler* Filer, TKitCustomImageList* List,
                         const std::function<void(TKitCustomImageList*)>& SetList) {
  Filer->DefineProperty(
      "Internal", [SetList](TKitReader* Reader) { SetList(ReadSharedListRef(Reader)); },
      [List](TKitWriter* Writer) { WriteSharedListRef(Writer, List); }, IsSharedList(List));
}

bool IsImageListConnector(TKitCustomImageList* List) {
  return dynamic_cast<TKitImageListConnector*>(List) != nullptr;
}

}  // namespace vexa
