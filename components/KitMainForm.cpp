#include "components/KitMainForm.h"

#include "components/KitStateIcon.h"

namespace vexa {

TKitGraphicList* MakeStateIcons(fw::TComponent* Form, fw::TColor Edge, bool FourBit,
                                std::initializer_list<TStateIconSpec> States) {
  auto* list = new TKitGraphicList(Form);
  list->SetName("KitGraphicList1");
  for (const TStateIconSpec& s : States) AddStateIcon(list, s.Name, Edge, s.Spot, FourBit);
  return list;
}

TKitStatusBar* MakeStatusBar(fw::TWinControl* Form,
                             std::initializer_list<TStatusPanelSpec> Panels) {
  auto* bar = new TKitStatusBar(Form);
  bar->SetName("KitStatusBar1");
  bar->SetParent(Form);
  bar->SetAlign(fw::alBottom);
  bar->Bevel()->SetMode(bmCustom);
  bar->SetControlGap(3);
  // The bar paints its panels only when it is not in its old style.
  bar->SetOldStyle(false);
  for (const TStatusPanelSpec& p : Panels) {
    TKitStatusPanel* panel = bar->Panels()->Add();
    panel->SetStyle(spText);
    panel->SetAlignment(agCenterLeft);
    panel->Bevel()->SetMode(bmStandard);
    if (p.Size) panel->SetSize(p.Size);
    panel->SetText(p.Text);
  }
  return bar;
}

}  // namespace vexa
