// The windowed control at the root of the library's panels and the status
// bar: mouse and focus tracking, a flat look, the image-list link, an owned
// bitmap effect object, and the background protocol by which a control draws
// its background out of a bitmap an ancestor supplies.
#pragma once

#include <cstdint>
#include <memory>

#include "components/KitBaseControl.h"
#include "components/KitControl.h"

namespace vexa {

class TKitCustomControl : public fw::TCustomControl, public TKitPictureSource {
public:
  explicit TKitCustomControl(fw::TComponent* AOwner);
  ~TKitCustomControl() override;

  void WndProc(fw::TMessage& Message) override;
  void Paint() override;

  fw::TColor Color() const { return FColor; }
  void SetColor(fw::TColor Value);
  fw::TFont* Font() const { return FFont.get(); }
  void SetFont(fw::TFont* Value) { FFont->Assign(Value); }
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool Value);
  // The canvas Paint draws on; its origin is the client area's top-left corner.
  fw::TCanvas* Canvas() const { return FCanvas.get(); }
  // Paints the control onto DC, a surface of its own client area.
  void PaintOn(plat::HDC DC);
  // Paint calls this when its canvas is bound to nothing (the display layer
  // asks for a paint): paints through a device context of the control's own
  // window and answers false; answers true when the canvas is bound.
  bool CanvasBound();

  bool MouseInside() const { return FMouseInside; }
  bool HasFocus() const { return FHasFocus; }
  bool Flat() const { return FFlat; }
  bool Transparent() const { return FTransparent; }
  bool RepaintOnChange() const { return FRepaintOnChange; }
  void SetRepaintOnChange(bool Value) { FRepaintOnChange = Value; }
  uint8_t TransparencyMode() const { return FTransparencyMode; }

  TKitBitmapEffectObject* Effects() const { return FEffects.get(); }
  void SetEffects(TKitBitmapEffectObject* Value) { FEffects->Assign(Value); }

  bool Loading() const { return ComponentState().Contains(fw::csLoading); }
  bool Designing() const { return ComponentState().Contains(fw::csDesigning); }
  bool IsDestroying() const { return ComponentState().Contains(fw::csDestroying); }

  // "Internal": a reference to one of the shared lists when ImageList is one.
  virtual void DefineProperties(TKitFiler* Filer);
  // Transparent and a background bitmap to draw from.
  virtual bool UseBackBitmap();
  virtual void PaintBackground();
  virtual void PropChanged(fw::TObject* Sender);
  virtual bool NeedsDesignFrame();
  virtual void ImageListChanged(fw::TObject* Sender);
  virtual void DoMouseEnter();
  virtual void DoMouseExit();
  // The background protocol (this class has no background).
  virtual fw::TBitmap* GetBackBitmap();
  virtual bool HasBackBitmap();
  virtual bool DrawBackBitmap(fw::TCanvas* ACanvas, const fw::TRect& Rect, uint32_t Flags,
                              fw::TPoint Offset);
  virtual fw::TPoint MapToBackground(fw::TPoint P);
  virtual plat::HPALETTE GetBackPalette();
  virtual void DrawHotFrame();
  virtual void DrawFlatFrame();

  void DrawDesignFrame();
  void FillRectWithBackground(const fw::TRect& Rect);

  fw::TNotifyEvent OnSetFocus;
  fw::TNotifyEvent OnKillFocus;
  fw::TNotifyEvent OnMouseEnter;
  fw::TNotifyEvent OnMouseExit;

protected:
  void Loaded() override;
  void CreateParams(fw::TCreateParams& Params) override;
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;
  // The framework's enter and exit of the focus.
  virtual void DoEnter();
  virtual void DoExit();
  // After a change of Ctl3D (repaints here).
  virtual void Ctl3DChanged();

  bool FMouseInside = false;
  bool FHasFocus = false;
  bool FFlat = false;
  bool FTransparent = false;
  bool FRepaintOnChange = true;

private:
  fw::TColor FColor = fw::clBtnFace;
  std::unique_ptr<fw::TFont> FFont;
  bool FCtl3D = true;
  std::unique_ptr<fw::TCanvas> FCanvas;
  std::unique_ptr<TKitBitmapEffectObject> FEffects;
  uint8_t FTransparencyMode = 0;
};

class TKitFormShape;

// The device context of a whole window (frame included), released in every case.
class TKitWindowDC {
public:
  explicit TKitWindowDC(fw::HWND H) : FHandle(H), FDC(plat::GetWindowDC(H)) {}
  ~TKitWindowDC() {
    if (FDC) plat::ReleaseDC(FHandle, FDC);
  }
  TKitWindowDC(const TKitWindowDC&) = delete;
  TKitWindowDC& operator=(const TKitWindowDC&) = delete;
  plat::HDC DC() const { return FDC; }

private:
  fw::HWND FHandle;
  plat::HDC FDC;
};

// The parent's side of the background protocol, for a transparent windowed
// child of a library control, a scroll box or a form with a form shape:
// whether Parent has a background to give (its window made and a bitmap to
// draw from), that bitmap (none for any other parent), and where the point P
// of Parent's client area lies in it.
bool KitParentHasBackground(fw::TWinControl* Parent);
fw::TBitmap* KitParentBackground(fw::TWinControl* Parent);
fw::TPoint KitParentMapToBackground(fw::TWinControl* Parent, fw::TPoint P);
// The form shape placed on Form, or none.
TKitFormShape* KitFormShapeOf(fw::TWinControl* Form);

}  // namespace vexa
