// The status bar: a bevelled bar docked at the bottom of a form that paints a
// row of panels (each with its own bevel, font, 3D text and alignment) or one
// simple text, draws its own size grip, hosts a panel control in a panel and
// reports clicks on panels.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "components/Kit3DCaption.h"
#include "components/KitBevel.h"
#include "components/KitCustomPanel.h"
#include "components/KitCustomStatusBar.h"
#include "components/KitTypes.h"
#include "framework/Classes.h"

namespace vexa {

class TKitStatusBar;
class TKitStatusPanels;

enum TKitStatusPanelStyle { spText, spOwnerDraw, spPanel };

using TKitOwnerDrawPanel =
    std::function<void(fw::TObject* Sender, int32_t Nr, fw::TRect aRect, fw::TCanvas* Canvas)>;
using TKitOnPanelClick = std::function<void(fw::TObject* Sender, int32_t Nr)>;

// The control placed in a panel of style spPanel.
class TKitStatusCustomPanel : public TKitCustomPanel {
public:
  explicit TKitStatusCustomPanel(fw::TComponent* AOwner);
  bool ParentColor() const { return false; }
  // The id that ties the control to its panel ("BarPanelId").
  int32_t BarPanelId() const { return FBarPanelId; }
  void SetBarPanelId(int32_t Value) { FBarPanelId = Value; }
  void DefineProperties(TKitFiler* Filer) override;

private:
  int32_t FBarPanelId = 0;
};

class TKitStatusPanel : public fw::TCollectionItem {
public:
  explicit TKitStatusPanel(fw::TCollection* Collection);
  ~TKitStatusPanel() override;

  // From another panel: everything but the panel control and its id.
  void Assign(fw::TPersistent* Source) override;
  // "BarPanelId", always written.
  void DefineProperties(TKitFiler* Filer);

  TKitAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TKitAlignment Value);
  TKitBevel* Bevel() const { return FBevel.get(); }
  void SetBevel(TKitBevel* Value);
  TKitStatusPanelStyle Style() const { return FStyle; }
  void SetStyle(TKitStatusPanelStyle Value);
  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);
  int32_t Size() const { return FSize; }
  void SetSize(int32_t Value);
  int32_t Left() const { return FLeft; }
  void SetLeft(int32_t Value);
  fw::TFont* Font() const { return FFont.get(); }
  void SetFont(fw::TFont* Value);
  TKit3DCaption* Font3D() const { return FFont3D.get(); }
  void SetFont3D(TKit3DCaption* Value);

  TKitStatusCustomPanel* PanelControl() const { return FPanelControl; }
  int32_t BarPanelId() const { return FBarPanelId; }
  // The bar of the collection (null outside one).
  TKitStatusBar* Bar() const;

private:
  friend class TKitStatusBar;
  TKitAlignment FAlignment = agTopLeft;
  std::unique_ptr<TKitBevel> FBevel;
  TKitStatusPanelStyle FStyle = spText;
  std::string FText;
  int32_t FSize = 50;
  int32_t FLeft = 3;
  std::unique_ptr<fw::TFont> FFont;
  std::unique_ptr<TKit3DCaption> FFont3D;
  TKitStatusCustomPanel* FPanelControl = nullptr;
  int32_t FBarPanelId = 0;
};

class TKitStatusPanels : public fw::TCollection {
public:
  explicit TKitStatusPanels(TKitStatusBar* Bar);
  TKitStatusPanel* GetItem(int Index) const { return static_cast<TKitStatusPanel*>(Items(Index)); }
  TKitStatusPanel* Add() { return static_cast<TKitStatusPanel*>(fw::TCollection::Add()); }
  fw::TPersistent* GetOwner() const override;
  TKitStatusBar* Bar() const { return FBar; }

protected:
  // One panel repaints itself; the whole collection repaints the bar.
  void Update(fw::TCollectionItem* Item) override;

private:
  TKitStatusBar* FBar;
};

class TKitStatusBar : public TKitCustomStatusBar {
public:
  explicit TKitStatusBar(fw::TComponent* AOwner);
  ~TKitStatusBar() override;

  void WndProc(fw::TMessage& Message) override;
  void Paint() override;
  int32_t GetControlGap() override { return FControlGap; }
  // Paints the whole bar at once when its canvas is bound, else repaints.
  void PaintNow();
  // Repaints one panel at once on the bar's canvas.
  void DrawPanel(int Index);

  TKitAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TKitAlignment Value);
  TKit3DCaption* Font3D() const { return FFont3D.get(); }
  void SetFont3D(TKit3DCaption* Value) { FFont3D->Assign(Value); }
  const std::string& SimpleText() const { return FSimpleText; }
  void SetSimpleText(const std::string& Value);
  bool SimplePanel() const { return FFlags[0]; }
  void SetSimplePanel(bool Value) { SetFlag(0, Value); }
  bool SizeGrip() const { return FFlags[1]; }
  void SetSizeGrip(bool Value) { SetFlag(1, Value); }
  bool OldStyle() const { return FFlags[2]; }
  void SetOldStyle(bool Value) { SetFlag(2, Value); }
  bool AutoSizeLastPanel() const { return FFlags[3]; }
  void SetAutoSizeLastPanel(bool Value) { SetFlag(3, Value); }
  int32_t ControlGap() const { return FControlGap; }
  void SetControlGap(int32_t Value);
  TKitStatusPanels* Panels() const { return FPanels.get(); }
  void SetPanels(TKitStatusPanels* Value);
  // The panel area of the last paint.
  fw::TRect PanelArea() const { return FPanelArea; }

  TKitOwnerDrawPanel OnOwnerDrawPanel;
  TKitOnPanelClick OnPanelClick;

protected:
  void CreateParams(fw::TCreateParams& Params) override;
  void AlignControls(fw::TControl* AControl, fw::TRect& R) override;
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;
  // With a window, size changes resize only from WM_SIZE (once per change).
  void Resize() override;

private:
  friend class TKitStatusPanel;
  void SetFlag(int Index, bool Value);
  void DrawSizeGrip(int32_t R, int32_t B);
  // The form the bar sits on; whether the size grip shows, and where.
  fw::TCustomForm* OwnerForm() const;
  bool GripShown() const;
  fw::TRect GripRect() const;
  void DrawPanelContent(int Index, TKitStatusPanel* P, const fw::TRect& Outer, bool KeepCorners,
                        bool FillText);
  uint32_t TextEffect() const;

  TKitAlignment FAlignment = agTopLeft;
  std::unique_ptr<TKit3DCaption> FFont3D;
  std::string FSimpleText;
  bool FFlags[4] = {false, true, true, true};
  int32_t FControlGap = 3;
  std::unique_ptr<TKitStatusPanels> FPanels;
  fw::TRect FPanelArea;
  bool FSizeMessage = false;  // true while WM_SIZE resizes the bar
};

constexpr const char* SKitOldStyleWarning =
    "Switching to OldStyle is not recommended. It's only implemented for being compatible to our "
    "old KitStatusBar!";

}  // namespace vexa
