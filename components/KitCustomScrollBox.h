// A scroll box with a bevel around its client area that takes part in the
// library's background protocol, and the bevel it uses.
//
// The framework has no scroll box and the platform no scroll bars or
// non-client messages, so the box stands on the framework's painted windowed
// control: its client area is the window less the bevel's extents, its scroll
// bars never show, and the bevel is painted through the window's device
// context when it changes and on every paint.
#pragma once

#include <cstdint>
#include <memory>

#include "components/KitBevel.h"
#include "components/KitObject.h"
#include "framework/Forms.h"

namespace vexa {

// Scroll messages and their end code.
constexpr fw::UINT KitWmHScroll = 0x0114;
constexpr fw::UINT KitWmVScroll = 0x0115;
constexpr int32_t KitSbEndScroll = 8;

// A bevel that starts in the window's own border mode.
class TKitScrollBoxBevel : public TKitBevel {
public:
  TKitScrollBoxBevel();
};

class TKitCustomScrollBox : public fw::TCustomControl {
public:
  explicit TKitCustomScrollBox(fw::TComponent* AOwner);
  ~TKitCustomScrollBox() override;

  void WndProc(fw::TMessage& Message) override;
  void Paint() override;
  // The window less the bevel: Extent at left and top, ExtentRightBottom at right and bottom.
  fw::TRect ClientRect() const override;

  const TKitAboutVar& About() const { return FAbout; }
  void SetAbout(const TKitAboutVar& Value) { FAbout = Value; }
  TKitScrollBoxBevel* Bevel() const { return FBevel.get(); }
  void SetBevel(TKitBevel* Value) { FBevel->Assign(Value); }
  // Always none: the bevel is the border.
  fw::TFormBorderStyle BorderStyle() const { return fw::bsNone; }
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool Value);
  fw::TColor Color() const { return FColor; }
  void SetColor(fw::TColor Value);
  bool Transparent() const { return FTransparent; }
  bool UseBackBitmap() { return FTransparent && HasBackBitmap(); }
  uint8_t ScrollThreshold() const { return FThreshold; }

  virtual void BevelChanged(fw::TObject* Sender);
  virtual bool HasBackBitmap();
  virtual fw::TBitmap* GetBackBitmap();
  virtual fw::TPoint MapToBackground(fw::TPoint P);
  virtual bool DrawBackBitmap(fw::TCanvas* ACanvas, const fw::TRect& Rect, uint32_t Flags,
                              fw::TPoint Offset);
  // Paints the client background on DC (client coordinates).
  virtual void PaintWindow(plat::HDC DC);
  // Paints the bevel over the whole window on DC (window coordinates).
  void PaintNonClient(plat::HDC DC);

  fw::TNotifyEvent OnPaintBackground;

protected:
  void CreateParams(fw::TCreateParams& Params) override;
  bool FTransparent = false;

private:
  bool Loading() const { return ComponentState().Contains(fw::csLoading); }
  void ScrollRepaint();
  fw::TPoint OriginInBackground();

  TKitAboutVar FAbout;
  std::unique_ptr<TKitScrollBoxBevel> FBevel;
  std::unique_ptr<fw::TCanvas> FNonClientCanvas;
  fw::TColor FColor = fw::clBtnFace;
  bool FCtl3D = true;
  bool FThrottle = true;
  uint8_t FThreshold = 1;
  uint8_t FCounter = 0;
};

}  // namespace vexa
