// The graphic (window-less) control at the root of the library's controls:
// mouse enter and exit events, an event on every change of position or size,
// and one repaint entry (PropChanged) for every change of the look. Also the
// library's private control messages and the canvas its controls paint on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "framework/Controls.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"

namespace vexa {

// Private control messages of the library.
constexpr fw::UINT CM_KITREPAINT = fw::CM_BASE + 205;         // 0xB0CD
constexpr fw::UINT CM_KITBACKCHANGED = fw::CM_BASE + 206;     // 0xB0CE
constexpr fw::UINT CM_KITSETFOCUS = fw::CM_BASE + 207;        // 0xB0CF
constexpr fw::UINT CM_KITKILLFOCUS = fw::CM_BASE + 208;       // 0xB0D0
constexpr fw::UINT CM_KITBACKSCROLLED = fw::CM_BASE + 212;    // 0xB0D4

// Kind of a bounds change: bit 0 the size, bit 1 the position.
using TKitBoundsChangeEvent = std::function<void(fw::TObject* Sender, uint8_t Kind)>;

// Sends the message to every child control of Parent.
void KitNotifyControls(fw::TWinControl* Parent, fw::UINT Msg, int32_t WParam = 0,
                       int32_t LParam = 0);

// Index of the first component of Form whose class matches (Class is a class
// test, see KitClassOf); -1 for no form, no class or no match.
int IndexOfComponentClass(fw::TComponent* Form, bool (*Class)(const fw::TComponent*));

class TKitControl : public fw::TGraphicControl {
public:
  explicit TKitControl(fw::TComponent* AOwner);
  ~TKitControl() override;

  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;
  void WndProc(fw::TMessage& Message) override;

  fw::TColor Color() const { return FColor; }
  void SetColor(fw::TColor Value);
  fw::TFont* Font() const { return FFont.get(); }
  void SetFont(fw::TFont* Value) { FFont->Assign(Value); }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool Value) { FParentFont = Value; }
  // The canvas Paint draws on; its origin is the control's top-left corner.
  fw::TCanvas* Canvas() const { return FCanvas.get(); }
  // Paints the control onto DC, a surface of its parent's client area.
  void PaintOn(plat::HDC DC);
  // Paint calls this when its canvas is bound to nothing (the display layer
  // asks for a paint): paints through a device context of the parent's
  // window and answers false; answers true when the canvas is bound.
  bool CanvasBound();

  bool Loading() const { return ComponentState().Contains(fw::csLoading); }
  bool Designing() const { return ComponentState().Contains(fw::csDesigning); }

  virtual void DoBoundsChange(uint8_t Kind);
  virtual void DoMouseEnter();
  virtual void DoMouseExit();
  // The one repaint entry for a change of the look.
  virtual void PropChanged(fw::TObject* Sender);
  virtual bool IsEmptyTransparent();

  fw::TNotifyEvent OnMouseEnter;
  fw::TNotifyEvent OnMouseExit;
  TKitBoundsChangeEvent OnBoundsChange;

protected:
  // Font changes run CM_FONTCHANGED.
  virtual void FontObjectChanged();

private:
  fw::TColor FColor = fw::clBtnFace;
  std::unique_ptr<fw::TFont> FFont;
  bool FParentFont = true;
  std::unique_ptr<fw::TCanvas> FCanvas;
};

}  // namespace vexa
