// Colours, fonts, pens, brushes and the canvas over the platform's device contexts.
#include "framework/Graphics.h"
#include "framework/GraphicsInternal.h"

#include <algorithm>
#include <cstring>

namespace fw {

using namespace plat;

plat::COLORREF ColorToRGB(TColor Color) {
  if (Color < 0) return GetSysColor(Color & 0xFF);
  return COLORREF(Color) & 0xFFFFFF;
}

namespace {

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t p = int64_t(a) * b;
  int64_t q = (p >= 0 ? p + c / 2 : p - c / 2) / c;
  return int32_t(q);
}

template <class T>
T* As(TPersistent* p) { return dynamic_cast<T*>(p); }

}  // namespace

// ---- TGraphicsObject ------------------------------------------------------

void TGraphicsObject::Changed() {
  if (OnChange) OnChange(this);
}

void TGraphicsObject::Release() {
  if (FHandle) DeleteObject(FHandle);
  FHandle = 0;
}

// ---- TFont ----------------------------------------------------------------

TFont::TFont() = default;

void TFont::Assign(TPersistent* Source) {
  if (auto* f = As<TFont>(Source)) {
    if (f == this) return;
    Release();
    FName = f->FName;
    FHeight = f->FHeight;
    FColor = f->FColor;
    FStyle = f->FStyle;
    FPitch = f->FPitch;
    FCharset = f->FCharset;
    FOrientation = f->FOrientation;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

HFONT TFont::Handle() {
  if (!FHandle) {
    LOGFONT lf;
    lf.lfHeight = FHeight;
    lf.lfEscapement = FOrientation;
    lf.lfOrientation = FOrientation;
    lf.lfWeight = FStyle.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = FStyle.Contains(fsItalic);
    lf.lfUnderline = FStyle.Contains(fsUnderline);
    lf.lfStrikeOut = FStyle.Contains(fsStrikeOut);
    lf.lfCharSet = FCharset;
    lf.lfPitchAndFamily = FPitch == fpFixed      ? FIXED_PITCH
                          : FPitch == fpVariable ? VARIABLE_PITCH
                                                 : 0;
    lf.lfFaceName = FName;
    FHandle = CreateFontIndirect(lf);
  }
  return FHandle;
}

void TFont::SetHandle(HFONT Value) {
  LOGFONT lf;
  if (!GetObject(Value, sizeof(lf), &lf)) return;
  Release();
  FName = lf.lfFaceName;
  FHeight = lf.lfHeight;
  FOrientation = lf.lfEscapement;
  FStyle = TFontStyles();
  if (lf.lfWeight >= 600) FStyle.Include(fsBold);
  if (lf.lfItalic) FStyle.Include(fsItalic);
  if (lf.lfUnderline) FStyle.Include(fsUnderline);
  if (lf.lfStrikeOut) FStyle.Include(fsStrikeOut);
  FCharset = lf.lfCharSet;
  Changed();
}

void TFont::SetName(const std::string& Value) { SetHandleSetting(FName, Value); }
void TFont::SetHeight(int32_t Value) { SetHandleSetting(FHeight, Value); }
void TFont::SetStyle(TFontStyles Value) { SetHandleSetting(FStyle, Value); }
void TFont::SetPitch(TFontPitch Value) { SetHandleSetting(FPitch, Value); }
void TFont::SetCharset(uint8_t Value) { SetHandleSetting(FCharset, Value); }
void TFont::SetOrientation(int32_t Value) { SetHandleSetting(FOrientation, Value); }

void TFont::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Changed();
}

int32_t TFont::Size() const { return -MulDiv(FHeight, 72, PixelsPerInch()); }

void TFont::SetSize(int32_t Value) { SetHeight(-MulDiv(Value, PixelsPerInch(), 72)); }

// ---- TPen -------------------------------------------------------------------

void TPen::Assign(TPersistent* Source) {
  if (auto* p = As<TPen>(Source)) {
    if (p == this) return;
    Release();
    FColor = p->FColor;
    FWidth = p->FWidth;
    FStyle = p->FStyle;
    FMode = p->FMode;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

HPEN TPen::Handle() {
  if (!FHandle) {
    static const int styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL,
                                 PS_INSIDEFRAME};
    FHandle = CreatePen(styles[FStyle], FWidth, ColorToRGB(FColor));
  }
  return FHandle;
}

void TPen::SetColor(TColor Value) { SetHandleSetting(FColor, Value); }

void TPen::SetWidth(int32_t Value) {
  if (Value >= 1) SetHandleSetting(FWidth, Value);
}

void TPen::SetStyle(TPenStyle Value) { SetHandleSetting(FStyle, Value); }

void TPen::SetMode(TPenMode Value) {
  if (FMode == Value) return;
  FMode = Value;
  Changed();
}

// ---- TBrush -----------------------------------------------------------------

void TBrush::Assign(TPersistent* Source) {
  if (auto* b = As<TBrush>(Source)) {
    if (b == this) return;
    Release();
    FColor = b->FColor;
    FStyle = b->FStyle;
    FBitmap = b->FBitmap;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

HBRUSH TBrush::Handle() {
  if (!FHandle) {
    if (FBitmap && !FBitmap->Empty()) {
      FHandle = CreatePatternBrush(FBitmap->Handle());
    } else if (FStyle == bsSolid) {
      FHandle = CreateSolidBrush(ColorToRGB(FColor));
    } else if (FStyle == bsClear) {
      LOGBRUSH lb;
      lb.lbStyle = BS_NULL;
      FHandle = CreateBrushIndirect(lb);
    } else {
      FHandle = CreateHatchBrush(int(FStyle) - int(bsHorizontal), ColorToRGB(FColor));
    }
  }
  return FHandle;
}

void TBrush::SetColor(TColor Value) {
  if (FColor == Value && FStyle != bsClear) return;
  Release();
  FColor = Value;
  if (FStyle == bsClear) FStyle = bsSolid;
  Changed();
}

void TBrush::SetStyle(TBrushStyle Value) { SetHandleSetting(FStyle, Value); }

void TBrush::SetBitmap(TBitmap* Value) {
  Release();
  FBitmap = Value;
  Changed();
}

// ---- TCanvas ------------------------------------------------------------------

TCanvas::TCanvas()
    : FFont(std::make_unique<TFont>()), FPen(std::make_unique<TPen>()),
      FBrush(std::make_unique<TBrush>()) {
  FFont->OnChange = [this](TObject*) { FFontValid = false; };
  FPen->OnChange = [this](TObject*) { FPenValid = false; };
  FBrush->OnChange = [this](TObject*) { FBrushValid = false; };
}

TCanvas::~TCanvas() { SetHandle(0); }

HDC TCanvas::Handle() {
  if (!FHandle) CreateHandle();
  if (!FHandle) throw EInvalidOperation("Canvas does not allow drawing");
  return FHandle;
}

void TCanvas::SetHandle(HDC Value) {
  if (FHandle == Value) return;
  if (FHandle) DeselectHandles();
  FHandle = Value;
  FFontValid = FPenValid = FBrushValid = false;
}

void TCanvas::DeselectHandles() {
  if (!FHandle) return;
  if (FOldFont) SelectObject(FHandle, FOldFont);
  if (FOldPen) SelectObject(FHandle, FOldPen);
  if (FOldBrush) SelectObject(FHandle, FOldBrush);
  FOldFont = FOldPen = FOldBrush = 0;
  FFontValid = FPenValid = FBrushValid = false;
}

void TCanvas::Refresh() { DeselectHandles(); }

void TCanvas::RequiredState(bool needFont, bool needPen, bool needBrush) {
  HDC dc = Handle();
  if (needFont && !FFontValid) {
    HGDIOBJ old = SelectObject(dc, FFont->Handle());
    if (!FOldFont) FOldFont = old;
    SetTextColor(dc, ColorToRGB(FFont->Color()));
    FFontValid = true;
  }
  if (needPen && !FPenValid) {
    HGDIOBJ old = SelectObject(dc, FPen->Handle());
    if (!FOldPen) FOldPen = old;
    static const int modes[] = {R2_BLACK, R2_WHITE, R2_NOP, R2_NOT, R2_COPYPEN, R2_NOTCOPYPEN,
                                R2_MERGEPENNOT, R2_MASKPENNOT, R2_MERGENOTPEN, R2_MASKNOTPEN,
                                R2_MERGEPEN, R2_NOTMERGEPEN, R2_MASKPEN, R2_NOTMASKPEN,
                                R2_XORPEN, R2_NOTXORPEN};
    SetROP2(dc, modes[FPen->Mode()]);
    FPenValid = true;
  }
  if (needBrush && !FBrushValid) {
    HGDIOBJ old = SelectObject(dc, FBrush->Handle());
    if (!FOldBrush) FOldBrush = old;
    // A solid brush is also the text background. Other brushes leave the
    // background colour to the caller (hatch gaps of a rectangle fill show it)
    // and draw text transparently.
    if (FBrush->Style() == bsSolid && !FBrush->Bitmap()) {
      SetBkColor(dc, ColorToRGB(FBrush->Color()));
      SetBkMode(dc, OPAQUE);
    } else {
      SetBkMode(dc, TRANSPARENT);
    }
    FBrushValid = true;
  }
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

TPoint TCanvas::PenPos() {
  POINT p;
  GetCurrentPositionEx(Handle(), &p);
  return TPoint{p.x, p.y};
}

TRect TCanvas::ClipRect() {
  RECT r;
  GetClipBox(Handle(), &r);
  return TRect{r.left, r.top, r.right, r.bottom};
}

TColor TCanvas::Pixels(int32_t X, int32_t Y) {
  COLORREF c = GetPixel(Handle(), X, Y);
  return c == CLR_INVALID ? TColor(-1) : TColor(c);
}

void TCanvas::SetPixels(int32_t X, int32_t Y, TColor Value) {
  Changing();
  RequiredState(false, true, false);
  SetPixel(FHandle, X, Y, ColorToRGB(Value));
  Changed();
}

void TCanvas::MoveTo(int32_t X, int32_t Y) {
  MoveToEx(Handle(), X, Y, nullptr);
}

void TCanvas::LineTo(int32_t X, int32_t Y) {
  Changing();
  RequiredState(false, true, true);
  plat::LineTo(FHandle, X, Y);
  Changed();
}

namespace {
std::vector<POINT> Points(const std::vector<TPoint>& pts) {
  std::vector<POINT> out;
  out.reserve(pts.size());
  for (auto& p : pts) out.push_back(POINT{p.X, p.Y});
  return out;
}
}  // namespace

void TCanvas::Polyline(const std::vector<TPoint>& Pts) {
  Changing();
  RequiredState(false, true, true);
  auto p = Points(Pts);
  plat::Polyline(FHandle, p.data(), int(p.size()));
  Changed();
}

void TCanvas::Polygon(const std::vector<TPoint>& Pts) {
  Changing();
  RequiredState(false, true, true);
  auto p = Points(Pts);
  plat::Polygon(FHandle, p.data(), int(p.size()));
  Changed();
}

void TCanvas::Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  Changing();
  RequiredState(false, true, true);
  plat::Rectangle(FHandle, X1, Y1, X2, Y2);
  Changed();
}

void TCanvas::Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  Changing();
  RequiredState(false, true, true);
  plat::Ellipse(FHandle, X1, Y1, X2, Y2);
  Changed();
}

void TCanvas::RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3) {
  Changing();
  RequiredState(false, true, true);
  plat::RoundRect(FHandle, X1, Y1, X2, Y2, X3, Y3);
  Changed();
}

void TCanvas::Arc(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3,
                  int32_t X4, int32_t Y4) {
  Changing();
  RequiredState(false, true, true);
  plat::Arc(FHandle, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
  Changed();
}

void TCanvas::FillRect(const TRect& R) {
  Changing();
  RequiredState(false, false, true);
  RECT r{R.Left, R.Top, R.Right, R.Bottom};
  plat::FillRect(FHandle, &r, FBrush->Handle());
  Changed();
}

void TCanvas::FrameRect(const TRect& R) {
  Changing();
  RequiredState(false, false, true);
  RECT r{R.Left, R.Top, R.Right, R.Bottom};
  plat::FrameRect(FHandle, &r, FBrush->Handle());
  Changed();
}

void TCanvas::TextOut(int32_t X, int32_t Y, const std::string& Text) {
  Changing();
  RequiredState(true, false, true);
  plat::TextOut(FHandle, X, Y, Text);
  MoveToEx(FHandle, X + TextWidth(Text), Y, nullptr);
  Changed();
}

void TCanvas::TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text) {
  Changing();
  RequiredState(true, false, true);
  RECT r{R.Left, R.Top, R.Right, R.Bottom};
  uint32_t options = ETO_CLIPPED | (FBrush->Style() != bsClear ? ETO_OPAQUE : 0);
  ExtTextOut(FHandle, X, Y, options, &r, Text);
  Changed();
}

plat::SIZE TCanvas::TextExtent(const std::string& Text) {
  RequiredState(true, false, false);
  plat::SIZE s;
  GetTextExtentPoint32(FHandle, Text, &s);
  return s;
}

void TCanvas::CopyRect(const TRect& Dest, TCanvas* Canvas, const TRect& Source) {
  if (!Canvas) return;
  Changing();
  RequiredState(false, false, true);
  HDC src = Canvas->Handle();
  Canvas->RequiredState(true, false, true);
  StretchBlt(FHandle, Dest.Left, Dest.Top, Dest.Width(), Dest.Height(), src, Source.Left,
             Source.Top, Source.Width(), Source.Height(), FCopyMode);
  Changed();
}

void TCanvas::Draw(int32_t X, int32_t Y, TGraphic* Graphic) {
  if (!Graphic || Graphic->Empty()) return;
  Changing();
  RequiredState(false, false, true);
  Graphic->Draw(this, TRect{X, Y, X + Graphic->Width(), Y + Graphic->Height()});
  Changed();
}

void TCanvas::StretchDraw(const TRect& Rect, TGraphic* Graphic) {
  if (!Graphic || Graphic->Empty()) return;
  Changing();
  RequiredState(false, false, true);
  Graphic->Draw(this, Rect);
  Changed();
}

void TCanvas::BrushCopy(const TRect& Dest, TBitmap* Bitmap, const TRect& Source, TColor Color) {
  if (!Bitmap || Bitmap->Empty()) return;
  Changing();
  RequiredState(false, false, true);
  int32_t w = Source.Width(), h = Source.Height();
  if (w <= 0 || h <= 0) return;
  HDC src = Bitmap->Canvas()->Handle();
  TScratchDC tmp(w, h, 24);
  BitBlt(tmp.DC(), 0, 0, w, h, src, Source.Left, Source.Top, SRCCOPY);
  TScratchDC mask(w, h, 1);
  // 1 where the picture shows Color.
  SetBkColor(tmp.DC(), ColorToRGB(Color));
  BitBlt(mask.DC(), 0, 0, w, h, tmp.DC(), 0, 0, SRCCOPY);
  // The target takes the brush there, the copy elsewhere.
  DrawMasked(FHandle, Dest, tmp.DC(), mask.DC(), w, h, MERGECOPY);
  Changed();
}

TScratchDC::TScratchDC(int32_t Width, int32_t Height, int Bits)
    : FDC(CreateCompatibleDC(0)), FBitmap(CreateBitmap(Width, Height, 1, Bits, nullptr)),
      FOld(SelectObject(FDC, FBitmap)) {}

TScratchDC::~TScratchDC() {
  SelectObject(FDC, FOld);
  DeleteDC(FDC);
  DeleteObject(FBitmap);
}

void DrawMasked(HDC Dst, const TRect& Dest, HDC Picture, HDC Mask, int32_t Width, int32_t Height,
                uint32_t MaskRop) {
  SetTextColor(Picture, 0xFFFFFF);
  SetBkColor(Picture, 0);
  BitBlt(Picture, 0, 0, Width, Height, Mask, 0, 0, SRCAND);
  COLORREF oldText = SetTextColor(Dst, 0), oldBk = SetBkColor(Dst, 0xFFFFFF);
  StretchBlt(Dst, Dest.Left, Dest.Top, Dest.Width(), Dest.Height(), Mask, 0, 0, Width, Height,
             MaskRop);
  StretchBlt(Dst, Dest.Left, Dest.Top, Dest.Width(), Dest.Height(), Picture, 0, 0, Width, Height,
             SRCPAINT);
  SetTextColor(Dst, oldText);
  SetBkColor(Dst, oldBk);
}

}  // namespace fw
