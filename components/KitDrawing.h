// Free drawing routines of the library: bevels and borders, a drop shadow
// frame, a small arrow, bitmaps drawn centred, stretched, tiled or transparent,
// gradients over colour lists, text alignment and measurement, text with 3D and
// rotation effects, and a glyph laid out beside a text.
//
// The routines keep no state: each works with the canvas, pen, brush and font
// it is given and leaves them as it set them. Rectangles exclude their right
// and bottom edge.
#pragma once

#include <cstdint>
#include <string>

#include "components/Kit3DCaption.h"
#include "components/KitButtonLayout.h"
#include "components/KitDraw.h"
#include "components/KitFXCaption.h"
#include "components/KitGlyphTextLayout.h"
#include "components/KitTypes.h"
#include "framework/Graphics.h"

namespace vexa {

enum TKitBevelStyle {
  bvNone,
  bvLowered,
  bvRaised,
  bvFrameLowered,
  bvFrameRaised,
  bvNormal,
  bvShadow
};

enum TKitBorderStyle {
  lsNone, lsSingle, lsLowered, lsRaised, lsRaisedspb, lsLoweredspb, lsRaisedExt, lsLoweredExt,
  lsFrameInset, lsFrameOffset, lsWindowBorder, lsSingleRaised, lsSingleLowered, lsDoubleRaised,
  lsDoubleLowered
};

// Image drawing flags (the same bits in every image routine).
constexpr uint32_t kdClip = 0x0001;            // clip to the target (moved by the clip offset)
constexpr uint32_t kdGradBitmap = 0x0004;      // gradient: draw off-screen first
constexpr uint32_t kdCenter = 0x0008;
constexpr uint32_t kdStretch = 0x0010;
constexpr uint32_t kdTile = 0x0020;
constexpr uint32_t kdTransparent = 0x0040;     // mask made from the transparent colour
constexpr uint32_t kdBrushCopy = 0x0080;       // the bitmap's own transparent colour, by brush copy
constexpr uint32_t kdMasked = 0x0100;          // a ready mask bitmap from the caller
constexpr uint32_t kdPropHeight = 0x0200;      // stretch keeping proportions, height fills
constexpr uint32_t kdPropWidth = 0x0400;       // stretch keeping proportions, width fills
constexpr uint32_t kdPalette = 0x1000;         // select and realise the image's palette

// Text format bits of the nine alignments.
constexpr uint32_t KitAlignmentFormat[9] = {0, 1, 2, 4, 5, 6, 8, 9, 10};

// Effect flags of KitDraw3DText.
constexpr uint32_t kteEnabled = 0x02;
constexpr uint32_t kteAutoSunken = 0x04;
constexpr uint32_t kteClip = 0x08;

// Whether palettes are selected and realised: not when the application's
// low-colour option (bit 0 of its options) is set and the display has at most
// 8 bits per pixel.
bool KitUsePalettes();

bool KitDrawBevel(fw::TCanvas* Canvas, fw::TRect& Rect, TKitBevelStyle Style, fw::TColor LightColor,
                  fw::TColor ShadowColor, int32_t Width);
bool KitDrawShadowFrame(fw::TCanvas* Canvas, fw::TRect& Rect, fw::TColor FrameColor,
                        fw::TColor ShadowColor, fw::TColor CornerColor, uint8_t ShadowDepth,
                        uint8_t FrameLines, bool KeepCorners);
int32_t KitBorderStyleWidth(TKitBorderStyle Style);
bool KitDrawBorder(fw::TCanvas* Canvas, fw::TRect& Rect, TKitBorderStyle Style, uint16_t EdgeFlags);
void KitDrawArrow(fw::TCanvas* Canvas, int32_t X, int32_t Y, bool Enabled, bool Down,
                  fw::TColor Color, int32_t Size);

void KitFillBitmap(fw::TBitmap* Bitmap, const fw::TRect& Rect, fw::TColor Color);
// Copies the area into both bitmaps: the mask becomes monochrome with the
// transparent pixels white, the image gets its transparent pixels black.
void KitSplitMaskAndImage(fw::TCanvas* Source, const fw::TRect& SourceRect, fw::TBitmap* Mask,
                          fw::TColor TransparentColor, fw::TBitmap* Image);

void KitDrawBitmap(fw::TCanvas* Canvas, const fw::TRect& Target, fw::TBitmap* Bitmap,
                   fw::TColor TransparentColor, uint32_t ClipOffset, uint32_t Flags);
void KitDrawBitmapEx(fw::TCanvas* Canvas, const fw::TRect& Target, fw::TBitmap* Bitmap,
                     fw::TRect& Covered, fw::TColor TransparentColor, uint32_t Flags);
void KitDrawCanvasArea(fw::TCanvas* Canvas, const fw::TRect& Target, fw::TCanvas* Source,
                       fw::TBitmap* Mask, fw::TColor TransparentColor, uint32_t ClipOffset,
                       uint32_t Flags, const fw::TRect& SourceRect);
// The engine behind the three above. BitmapOrMask is the bitmap for kdBrushCopy
// and the mask for kdMasked.
void KitDrawImage(fw::TCanvas* Canvas, const fw::TRect& Target, fw::TCanvas* Source,
                  fw::TRect& Covered, fw::TBitmap* BitmapOrMask, plat::HPALETTE Palette,
                  fw::TColor TransparentColor, uint32_t Flags, const fw::TRect& SourceRect);

void KitFillGradient(fw::TCanvas* Canvas, const fw::TRect& Rect, TKitGradientStyle Style,
                     uint32_t ClipOffset, uint32_t Flags, plat::HPALETTE Palette,
                     const TKitColorList* Colors);

void KitAlignRect(TKitAlignment Alignment, const fw::TRect& Item, const fw::TRect& Container,
                  fw::TRect& Result);
void KitAlignedTextRect(TKitAlignment Alignment, const std::string& Text, TKit3DCaption* Caption,
                        fw::TRect& Result, uint32_t Format, bool ShowAccel, bool WordWrap,
                        fw::TFont* Font, const fw::TRect& Container);
void KitDraw3DText(fw::TCanvas* Canvas, const std::string& Text, TKit3DCaption* Caption,
                   const fw::TRect* ClipRect, uint32_t EffectFlags, uint32_t Format,
                   const fw::TRect& Rect);
void KitMeasureText(const std::string& Text, TKit3DCaption* Caption, fw::TRect& Rect,
                    uint32_t Format, int32_t Margin, bool ShowAccel, bool WordWrap,
                    fw::TFont* Font);

struct TKitGlyphTextRects {
  fw::TRect TextRect;
  fw::TRect GlyphRect;
  fw::TRect Union;
};

// Glyph-and-text flags.
constexpr uint16_t kgtRepaintText = 0x40;
constexpr uint16_t kgtRepaintGlyph = 0x80;
constexpr uint16_t kgtRepaintUnion = 0x100;
constexpr uint16_t kgtMeasureOnly = 0x200;
constexpr uint16_t kgtTopLeft = 0x20;

void KitDrawGlyphText(fw::TCanvas* Canvas, const std::string& Text, TKit3DCaption* Caption,
                      TKitGlyphTextRects& Rects, uint32_t Format, uint16_t Flags, bool Transparent,
                      bool ShowAccel, bool WordWrap, TKitGlyphTextLayout* Layout,
                      fw::TColor TransparentColor, fw::TCanvas* MaskCanvas,
                      fw::TCanvas* GlyphCanvas, const fw::TRect& GlyphRect, fw::TRect& Target);
fw::TRect KitDrawGlyphTextBitmap(fw::TCanvas* Canvas, const std::string& Text,
                                 TKit3DCaption* Caption, uint32_t Format, uint16_t Flags,
                                 bool Transparent, bool ShowAccel, bool WordWrap,
                                 TKitGlyphTextLayout* Layout, fw::TBitmap* Mask,
                                 fw::TBitmap* Glyph, const fw::TRect& Target);
bool KitIsTrueTypeFont(fw::TCanvas* Canvas);

// Rounded to the nearest integer, halves away from zero; -1 for a zero divisor.
int32_t KitMulDiv(int32_t A, int32_t B, int32_t C);

}  // namespace vexa
