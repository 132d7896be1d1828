// Graphics classes of the framework over the platform's device contexts:
// colours, fonts, pens, brushes, the canvas, and the graphics (bitmap, icon)
// with the picture that holds one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Controls.h"
#include "platform/gdi/Gdi.h"

namespace fw {

// ---------------------------------------------------------------------------
// Colours: 0x00BBGGRR values; system colours have the top bit set and the
// system colour index in the low byte.

using TColor = int32_t;

constexpr TColor SysColor(int index) { return static_cast<TColor>(0x80000000u | uint32_t(index)); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clLtGray = clSilver;
constexpr TColor clDkGray = clGray;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor clScrollBar = SysColor(plat::COLOR_SCROLLBAR);
constexpr TColor clBackground = SysColor(plat::COLOR_BACKGROUND);
constexpr TColor clActiveCaption = SysColor(plat::COLOR_ACTIVECAPTION);
constexpr TColor clInactiveCaption = SysColor(plat::COLOR_INACTIVECAPTION);
constexpr TColor clMenu = SysColor(plat::COLOR_MENU);
constexpr TColor clWindow = SysColor(plat::COLOR_WINDOW);
constexpr TColor clWindowFrame = SysColor(plat::COLOR_WINDOWFRAME);
constexpr TColor clMenuText = SysColor(plat::COLOR_MENUTEXT);
constexpr TColor clWindowText = SysColor(plat::COLOR_WINDOWTEXT);
constexpr TColor clCaptionText = SysColor(plat::COLOR_CAPTIONTEXT);
constexpr TColor clActiveBorder = SysColor(plat::COLOR_ACTIVEBORDER);
constexpr TColor clInactiveBorder = SysColor(plat::COLOR_INACTIVEBORDER);
constexpr TColor clAppWorkSpace = SysColor(plat::COLOR_APPWORKSPACE);
constexpr TColor clHighlight = SysColor(plat::COLOR_HIGHLIGHT);
constexpr TColor clHighlightText = SysColor(plat::COLOR_HIGHLIGHTTEXT);
constexpr TColor clBtnFace = SysColor(plat::COLOR_BTNFACE);
constexpr TColor clBtnShadow = SysColor(plat::COLOR_BTNSHADOW);
constexpr TColor clGrayText = SysColor(plat::COLOR_GRAYTEXT);
constexpr TColor clBtnText = SysColor(plat::COLOR_BTNTEXT);
constexpr TColor clInactiveCaptionText = SysColor(plat::COLOR_INACTIVECAPTIONTEXT);
constexpr TColor clBtnHighlight = SysColor(plat::COLOR_BTNHIGHLIGHT);
constexpr TColor cl3DDkShadow = SysColor(plat::COLOR_3DDKSHADOW);
constexpr TColor cl3DLight = SysColor(plat::COLOR_3DLIGHT);
constexpr TColor clInfoText = SysColor(plat::COLOR_INFOTEXT);
constexpr TColor clInfoBk = SysColor(plat::COLOR_INFOBK);

// The RGB value of a colour: system colours are looked up; clNone and
// clDefault give their own value masked to RGB like any other colour.
plat::COLORREF ColorToRGB(TColor Color);

// ---------------------------------------------------------------------------
// Exceptions

VEXA_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
VEXA_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);

// ---------------------------------------------------------------------------
// Graphics objects: a change event and a lazily made platform handle.

class TGraphicsObject : public TPersistent {
public:
  ~TGraphicsObject() override { Release(); }

  TNotifyEvent OnChange;

protected:
  virtual void Changed();
  // Deletes the handle; the next use makes one from the settings.
  void Release();
  // Stores a setting the handle is made from: a different value deletes the
  // handle, then the change is told.
  template <class T>
  void SetHandleSetting(T& Field, const T& Value) {
    if (Field == Value) return;
    Release();
    Field = Value;
    Changed();
  }

  plat::HGDIOBJ FHandle = 0;
};

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;
enum TFontPitch { fpDefault, fpVariable, fpFixed };

class TFont : public TGraphicsObject {
public:
  TFont();
  void Assign(TPersistent* Source) override;

  // Made on first use; a property change deletes it.
  plat::HFONT Handle();
  // Takes the font's settings from a handle (the handle stays the caller's).
  void SetHandle(plat::HFONT Value);

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  // Negative: character height in pixels; Size is in points at PixelsPerInch.
  int32_t Height() const { return FHeight; }
  void SetHeight(int32_t Value);
  int32_t Size() const;
  void SetSize(int32_t Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);
  TFontPitch Pitch() const { return FPitch; }
  void SetPitch(TFontPitch Value);
  uint8_t Charset() const { return FCharset; }
  void SetCharset(uint8_t Value);
  // Angle of the text in tenths of a degree, counter-clockwise.
  int32_t Orientation() const { return FOrientation; }
  void SetOrientation(int32_t Value);
  int32_t PixelsPerInch() const { return 96; }

private:
  std::string FName = "MS Sans Serif";
  int32_t FHeight = -11;
  TColor FColor = clWindowText;
  TFontStyles FStyle;
  TFontPitch FPitch = fpDefault;
  uint8_t FCharset = plat::DEFAULT_CHARSET;
  int32_t FOrientation = 0;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};

class TPen : public TGraphicsObject {
public:
  TPen() = default;
  void Assign(TPersistent* Source) override;

  plat::HPEN Handle();
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t Value);  // values below 1 are ignored
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle Value);
  TPenMode Mode() const { return FMode; }
  void SetMode(TPenMode Value);

private:
  TColor FColor = clBlack;
  int32_t FWidth = 1;
  TPenStyle FStyle = psSolid;
  TPenMode FMode = pmCopy;
};

class TBitmap;

enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross,
                   bsDiagCross };

class TBrush : public TGraphicsObject {
public:
  TBrush() = default;
  void Assign(TPersistent* Source) override;

  plat::HBRUSH Handle();
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);  // a clear brush turns solid
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle Value);
  // A pattern bitmap (not owned; the brush copies its pixels when the handle is
  // made). Null returns to Style and Color.
  TBitmap* Bitmap() const { return FBitmap; }
  void SetBitmap(TBitmap* Value);

private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
  TBitmap* FBitmap = nullptr;
};

// ---------------------------------------------------------------------------
// The canvas: drawing with its pen, brush and font on a device context.

class TGraphic;

enum TFillStyle { fsSurface, fsBorder };
enum TCanvasStates { csHandleValid, csFontValid, csPenValid, csBrushValid };

class TCanvas : public TPersistent {
public:
  TCanvas();
  ~TCanvas() override;

  // The device context; a canvas without one asks CreateHandle, and raises
  // EInvalidOperation "Canvas does not allow drawing" when there is still none.
  plat::HDC Handle();
  void SetHandle(plat::HDC Value);
  bool HandleAllocated() const { return FHandle != 0; }

  TFont* Font() { return FFont.get(); }
  TPen* Pen() { return FPen.get(); }
  TBrush* Brush() { return FBrush.get(); }
  void SetFont(TFont* Value) { FFont->Assign(Value); }
  void SetPen(TPen* Value) { FPen->Assign(Value); }
  void SetBrush(TBrush* Value) { FBrush->Assign(Value); }
  uint32_t CopyMode() const { return FCopyMode; }
  void SetCopyMode(uint32_t Value) { FCopyMode = Value; }
  TPoint PenPos();
  void SetPenPos(TPoint Value) { MoveTo(Value.X, Value.Y); }
  TRect ClipRect();
  TColor Pixels(int32_t X, int32_t Y);
  void SetPixels(int32_t X, int32_t Y, TColor Value);

  void MoveTo(int32_t X, int32_t Y);
  void LineTo(int32_t X, int32_t Y);
  void Polyline(const std::vector<TPoint>& Points);
  void Polygon(const std::vector<TPoint>& Points);
  void Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  void Rectangle(const TRect& R) { Rectangle(R.Left, R.Top, R.Right, R.Bottom); }
  void Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  void Ellipse(const TRect& R) { Ellipse(R.Left, R.Top, R.Right, R.Bottom); }
  void RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3);
  void Arc(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3, int32_t X4,
           int32_t Y4);
  void FillRect(const TRect& R);
  void FrameRect(const TRect& R);
  void TextOut(int32_t X, int32_t Y, const std::string& Text);
  // Text clipped to R; the brush fills R first unless it is clear.
  void TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text);
  plat::SIZE TextExtent(const std::string& Text);
  int32_t TextWidth(const std::string& Text) { return TextExtent(Text).cx; }
  int32_t TextHeight(const std::string& Text) { return TextExtent(Text).cy; }
  // Copies Source's area onto Dest through CopyMode (scaled when the sizes differ).
  void CopyRect(const TRect& Dest, TCanvas* Canvas, const TRect& Source);
  void Draw(int32_t X, int32_t Y, TGraphic* Graphic);
  void StretchDraw(const TRect& Rect, TGraphic* Graphic);
  // Draws Source's area of the bitmap with the pixels of Color replaced by the brush.
  void BrushCopy(const TRect& Dest, TBitmap* Bitmap, const TRect& Source, TColor Color);
  // Deselects the tools and forgets their state; the next drawing selects them again.
  void Refresh();
  void Lock() { ++FLockCount; }
  void Unlock() { --FLockCount; }
  int LockCount() const { return FLockCount; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  virtual void CreateHandle() {}
  virtual void Changing();
  virtual void Changed();
  // Selects what the next call needs (the tools are made again after a change).
  void RequiredState(bool needFont, bool needPen, bool needBrush);
  void DeselectHandles();

private:
  std::unique_ptr<TFont> FFont;
  std::unique_ptr<TPen> FPen;
  std::unique_ptr<TBrush> FBrush;
  plat::HDC FHandle = 0;
  uint32_t FCopyMode = plat::SRCCOPY;
  bool FFontValid = false, FPenValid = false, FBrushValid = false;
  plat::HGDIOBJ FOldFont = 0, FOldPen = 0, FOldBrush = 0;
  int FLockCount = 0;
};

// ---------------------------------------------------------------------------
// Graphics

class TGraphic : public TPersistent {
public:
  virtual bool Empty() const = 0;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual void SetWidth(int32_t Value) = 0;
  virtual void SetHeight(int32_t Value) = 0;
  // Raises EInvalidGraphic for data that is not an image of its kind.
  virtual void LoadFromStream(TStream* Stream) = 0;
  virtual void SaveToStream(TStream* Stream) = 0;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);
  virtual plat::HPALETTE Palette() const { return 0; }
  bool Transparent() const { return FTransparent; }
  virtual void SetTransparent(bool Value);
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }

  TNotifyEvent OnChange;

protected:
  friend class TCanvas;
  virtual void Draw(TCanvas* ACanvas, const TRect& Rect) = 0;
  virtual void Changed();
  bool FTransparent = false;
  bool FModified = false;
};

enum TPixelFormat {
  pfDevice,
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,
  pf16bit,
  pf24bit,
  pf32bit,
  pfCustom
};
enum TTransparentMode { tmAuto, tmFixed };
enum TBitmapHandleType { bmDIB, bmDDB };

class TBitmap : public TGraphic {
public:
  TBitmap();
  ~TBitmap() override;
  void Assign(TPersistent* Source) override;

  bool Empty() const override { return FWidth <= 0 || FHeight <= 0; }
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  // Sizes keep the pixels that still fit; new pixels are black.
  void SetWidth(int32_t Value) override { SetSize(Value, FHeight); }
  void SetHeight(int32_t Value) override { SetSize(FWidth, Value); }
  void SetSize(int32_t AWidth, int32_t AHeight);

  // The bitmap; 0 while empty. Taking a handle over gives the bitmap that handle
  // (it is deleted with the bitmap).
  plat::HBITMAP Handle() const { return FHandle; }
  void SetHandle(plat::HBITMAP Value);
  // Gives up the handle without deleting it; the bitmap is then empty.
  plat::HBITMAP ReleaseHandle();
  TBitmapHandleType HandleType() const { return bmDIB; }
  void SetHandleType(TBitmapHandleType) {}

  TCanvas* Canvas();
  TPixelFormat PixelFormat() const { return FPixelFormat; }
  // Converts the pixels (to the nearest colours for fewer bits).
  void SetPixelFormat(TPixelFormat Value);
  bool Monochrome() const { return FPixelFormat == pf1bit; }
  void SetMonochrome(bool Value);
  // Row access, top-down, blue-green-red for 24 bits, padded to 4 bytes.
  // Raises EInvalidGraphicOperation "Scan line index out of range".
  uint8_t* ScanLine(int32_t Row);

  // tmAuto: the bottom-left pixel (white for a monochrome bitmap); tmFixed: the
  // colour set. Either way with the palette-relative flag 0x02000000.
  TColor TransparentColor();
  void SetTransparentColor(TColor Value);
  TTransparentMode TransparentMode() const { return FTransparentMode; }
  void SetTransparentMode(TTransparentMode Value);

  // A BMP file at the stream's position; its header says how long it is.
  void LoadFromStream(TStream* Stream) override;
  // A BMP file at the bitmap's own depth (nothing for an empty bitmap).
  void SaveToStream(TStream* Stream) override;
  void Dormant() {}
  void FreeImage() {}
  // A monochrome bitmap of the pixels of TransparentColor (1) against the rest (0).
  void Mask(TColor TransparentColor);

protected:
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  void Changed() override;

private:
  class TBitmapCanvas;
  void Replace(plat::HBITMAP NewHandle);
  plat::HBITMAP FHandle = 0;
  int32_t FWidth = 0, FHeight = 0;
  TPixelFormat FPixelFormat = pfDevice;
  TColor FTransparentColor = clDefault;
  TTransparentMode FTransparentMode = tmAuto;
  std::unique_ptr<TCanvas> FCanvas;
  plat::HDC FDC = 0;
  plat::HGDIOBJ FOldBitmap = 0;
};

class TIcon : public TGraphic {
public:
  TIcon() = default;
  ~TIcon() override;
  void Assign(TPersistent* Source) override;

  bool Empty() const override { return FHandle == 0; }
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  // Icons keep their size: setting it raises EInvalidGraphicOperation
  // "Cannot change the size of an icon".
  void SetWidth(int32_t Value) override;
  void SetHeight(int32_t Value) override;
  plat::HICON Handle() const { return FHandle; }
  // Takes the icon over (it is destroyed with this object).
  void SetHandle(plat::HICON Value);
  plat::HICON ReleaseHandle();
  // An icon file (directory, then one image: info header with the doubled
  // height, colour table, colour rows and the AND mask rows), every size and
  // offset checked. The first image is taken.
  void LoadFromStream(TStream* Stream) override;
  void SaveToStream(TStream* Stream) override;

protected:
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;

private:
  plat::HICON FHandle = 0;
  int32_t FWidth = 0, FHeight = 0;
};

class TPicture : public TPersistent {
public:
  TPicture() = default;
  ~TPicture() override;
  // Copies a TPicture, TGraphic (TBitmap, TIcon) or null (clears).
  void Assign(TPersistent* Source) override;

  TGraphic* Graphic() const { return FGraphic.get(); }
  // Stores a copy of Value (null clears).
  void SetGraphic(TGraphic* Value);
  // The bitmap; a picture without one gets a new empty bitmap in place of
  // whatever it held.
  TBitmap* Bitmap();
  void SetBitmap(TBitmap* Value) { SetGraphic(Value); }
  TIcon* Icon();
  void SetIcon(TIcon* Value) { SetGraphic(Value); }
  int32_t Width() const { return FGraphic ? FGraphic->Width() : 0; }
  int32_t Height() const { return FGraphic ? FGraphic->Height() : 0; }
  // By extension: ".bmp" or ".ico" (case-insensitive); others raise
  // EInvalidGraphic "Unknown picture file extension (.<ext>)".
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

  TNotifyEvent OnChange;

protected:
  virtual void Changed();

private:
  void Take(std::unique_ptr<TGraphic> G);
  std::unique_ptr<TGraphic> FGraphic;
};

}  // namespace fw
