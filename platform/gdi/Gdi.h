// Software device contexts: everything the framework and the component library
// draw with, rendered by our own code into pixel buffers (24 bits per pixel for
// windows and ordinary bitmaps; 1, 4, 8 and 32 bits for device-independent
// bitmaps with colour tables).
//
// Conventions of this interface:
// - Rectangles exclude their right and bottom edge.
// - Colours are 0x00BBGGRR values. The palette-relative (0x02000000) and
//   palette-index (0x01000000) flags are accepted and drawn as their RGB part:
//   every surface holds true colours.
// - Handles of every object kind share one numbering; 0 is no object. Objects
//   are reference counted inside the library, so deleting a pen, brush, font,
//   bitmap or palette that is still selected into a device context keeps it
//   alive until it is deselected (the handle is dead at once).
// - Pixels of a bitmap are kept top-down, rows padded to 4 bytes, in
//   blue-green-red order (GetBitmapBits/GetScanLine). Device-independent
//   transfers (GetDIBits, SetDIBits, BMP files) use bottom-up rows unless the
//   header gives a negative height.
// - Drawing is safe from several threads on distinct device contexts; one
//   device context must not be used by two threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/msg/Msg.h"

namespace plat {

using COLORREF = uint32_t;
using HGDIOBJ = uint32_t;
using HDC = uint32_t;
using HBITMAP = uint32_t;
using HPEN = uint32_t;
using HBRUSH = uint32_t;
using HFONT = uint32_t;
using HRGN = uint32_t;
using HPALETTE = uint32_t;
using HICON = uint32_t;

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
  return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return uint8_t(c); }
constexpr uint8_t GetGValue(COLORREF c) { return uint8_t(c >> 8); }
constexpr uint8_t GetBValue(COLORREF c) { return uint8_t(c >> 16); }
constexpr COLORREF PALETTERGB(uint8_t r, uint8_t g, uint8_t b) { return 0x02000000 | RGB(r, g, b); }
constexpr COLORREF PALETTEINDEX(uint16_t i) { return 0x01000000 | i; }
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

struct SIZE { int32_t cx = 0; int32_t cy = 0; };

// ---- Object kinds, stock objects ----------------------------------------
constexpr int OBJ_PEN = 1;
constexpr int OBJ_BRUSH = 2;
constexpr int OBJ_DC = 3;
constexpr int OBJ_PAL = 5;
constexpr int OBJ_FONT = 6;
constexpr int OBJ_BITMAP = 7;
constexpr int OBJ_REGION = 8;
constexpr int OBJ_MEMDC = 10;
constexpr int OBJ_ICON = 100;  // our own kind for icons

constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;
constexpr int DEFAULT_PALETTE = 15;

HGDIOBJ GetStockObject(int index);
// Kind of a live object (OBJ_*), 0 for a dead or unknown handle.
int GetObjectType(HGDIOBJ obj);
// Deletes a pen, brush, font, bitmap, region, palette; stock objects are never
// deleted (true is returned). False for an unknown handle.
bool DeleteObject(HGDIOBJ obj);

// ---- Pens and brushes -----------------------------------------------------
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;

struct LOGPEN {
  uint32_t lopnStyle = PS_SOLID;
  POINT lopnWidth;  // x is the width
  COLORREF lopnColor = 0;
};

constexpr uint32_t BS_SOLID = 0;
constexpr uint32_t BS_NULL = 1;
constexpr uint32_t BS_HOLLOW = BS_NULL;
constexpr uint32_t BS_HATCHED = 2;
constexpr uint32_t BS_PATTERN = 3;

constexpr int HS_HORIZONTAL = 0;  // -----
constexpr int HS_VERTICAL = 1;    // |||||
constexpr int HS_FDIAGONAL = 2;   // \\\\\ (down to the right)
constexpr int HS_BDIAGONAL = 3;   // ///// (up to the right)
constexpr int HS_CROSS = 4;       // +++++
constexpr int HS_DIAGCROSS = 5;   // xxxxx

struct LOGBRUSH {
  uint32_t lbStyle = BS_SOLID;
  COLORREF lbColor = 0;
  uintptr_t lbHatch = 0;  // hatch style, or the pattern bitmap for BS_PATTERN
};

HPEN CreatePen(int style, int width, COLORREF color);
HPEN CreatePenIndirect(const LOGPEN& lp);
HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateHatchBrush(int hatch, COLORREF color);
// The brush keeps its own copy of the bitmap; every pixel of it takes part
// (not only the top-left 8 x 8). A monochrome pattern draws its 0 bits in the
// text colour and its 1 bits in the background colour of the device context.
HBRUSH CreatePatternBrush(HBITMAP bitmap);
HBRUSH CreateBrushIndirect(const LOGBRUSH& lb);

// ---- Bitmaps ----------------------------------------------------------------
struct BITMAP {
  int32_t bmType = 0;
  int32_t bmWidth = 0;
  int32_t bmHeight = 0;
  int32_t bmWidthBytes = 0;
  uint16_t bmPlanes = 1;
  uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;  // top-down rows of the bitmap
};

struct RGBQUAD {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
};

struct BITMAPINFOHEADER {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

// Header followed by up to 256 colour table entries.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[256];
};

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;  // run-length compressed 8-bit rows (files only)
constexpr uint32_t BI_RLE4 = 2;  // run-length compressed 4-bit rows (files only)
constexpr uint32_t DIB_RGB_COLORS = 0;
constexpr uint32_t DIB_PAL_COLORS = 1;

// Bytes of one row of `width` pixels at `bitCount`, padded to 4 bytes.
int32_t DibStride(int32_t width, int bitCount);

// A device-dependent bitmap: 1 bit per pixel (monochrome, black = 0, white = 1)
// or 24 bits; bitCount 16 and 32 give 24-bit bitmaps. `bits`, when given,
// holds top-down rows padded to 2 bytes as the classic call expects.
HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t planes, uint32_t bitCount,
                     const void* bits);
// 24 bits, unless the device context has a monochrome bitmap selected.
HBITMAP CreateCompatibleBitmap(HDC hdc, int32_t width, int32_t height);
// A bitmap of 1, 4, 8, 24 or 32 bits with the header's colour table; *bits
// receives the top-down row memory. Zero-filled.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* bmi, uint32_t usage, void** bits);
// Fills a BITMAP for a bitmap, LOGPEN, LOGBRUSH or LOGFONT for the others;
// returns the bytes written (0 for an unknown handle or a short buffer).
int GetObject(HGDIOBJ obj, int size, void* buffer);
// Direct row access (top-down, padded to 4 bytes); nullptr for a bad row.
uint8_t* GetBitmapScanLine(HBITMAP bitmap, int32_t row);
// Colour table of a bitmap of at most 8 bits (empty for others).
std::vector<RGBQUAD> GetBitmapColorTable(HBITMAP bitmap);
bool SetBitmapColorTable(HBITMAP bitmap, const std::vector<RGBQUAD>& table);
// Copies rows into a device-independent layout (bottom-up unless the header's
// height is negative). With bits == nullptr only the header (and colour table
// for 1, 4 and 8 bits) is filled in. Converts to the requested bit count;
// colour to 1 bit maps each colour to the nearer of black and white.
// Returns the number of rows copied.
int GetDIBits(HDC hdc, HBITMAP bitmap, uint32_t start, uint32_t lines, void* bits,
              BITMAPINFO* bmi, uint32_t usage);
int SetDIBits(HDC hdc, HBITMAP bitmap, uint32_t start, uint32_t lines, const void* bits,
              const BITMAPINFO* bmi, uint32_t usage);
// Reads a pixel of a bitmap without a device context (CLR_INVALID outside).
COLORREF GetBitmapPixel(HBITMAP bitmap, int32_t x, int32_t y);

// BMP files: 14-byte file header "BM", a 40-byte info header, the colour table,
// bottom-up (or, for a negative height, top-down) uncompressed rows at 1, 4, 8,
// 16 (5-5-5, loaded as 24), 24 or 32 bits, or bottom-up run-length compressed
// rows at 8 (BI_RLE8) or 4 (BI_RLE4) bits. Every field, the size products and
// the table length are checked before anything is allocated or read; a damaged
// file gives 0 and a reason.
HBITMAP LoadBitmapFile(const uint8_t* data, size_t size, std::string* error = nullptr,
                       size_t* consumed = nullptr);
// Writes a file at bitCount 1, 4, 8, 24 or 32 (0: the bitmap's own depth).
// Lower depths than the bitmap's map each pixel to the nearest table colour.
std::vector<uint8_t> SaveBitmapFile(HBITMAP bitmap, int bitCount = 0);
// Total size a BMP file claims in its header (0 when the first 6 bytes are not
// a file header), so stream readers know how much to take.
uint32_t BitmapFileSize(const uint8_t* data, size_t size);

// ---- Device contexts ------------------------------------------------------
// A memory context starts with a 1 x 1 monochrome bitmap selected.
HDC CreateCompatibleDC(HDC hdc);
bool DeleteDC(HDC hdc);
// Selects a pen, brush, font, bitmap (memory contexts) or region (as the clip
// region: returns the region kind, not a handle). Returns the previous object.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj);
HGDIOBJ GetCurrentObject(HDC hdc, int kind);
int SaveDC(HDC hdc);                  // level, 0 on failure
bool RestoreDC(HDC hdc, int level);   // negative: relative to the current level

constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int SIZEPALETTE = 104;
constexpr int RASTERCAPS = 38;
constexpr int RC_PALETTE = 0x0100;
int GetDeviceCaps(HDC hdc, int index);

// Screen geometry of the desktop (set by the display layer; 1024 x 768 x 24
// when none is present).
void SetScreenSize(int32_t width, int32_t height);

COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);

// Mix modes: how pen and brush colours combine with what is there.
constexpr int R2_BLACK = 1;
constexpr int R2_NOTMERGEPEN = 2;
constexpr int R2_MASKNOTPEN = 3;
constexpr int R2_NOTCOPYPEN = 4;
constexpr int R2_MASKPENNOT = 5;
constexpr int R2_NOT = 6;
constexpr int R2_XORPEN = 7;
constexpr int R2_NOTMASKPEN = 8;
constexpr int R2_MASKPEN = 9;
constexpr int R2_NOTXORPEN = 10;
constexpr int R2_NOP = 11;
constexpr int R2_MERGENOTPEN = 12;
constexpr int R2_COPYPEN = 13;
constexpr int R2_MERGEPENNOT = 14;
constexpr int R2_MERGEPEN = 15;
constexpr int R2_WHITE = 16;
int SetROP2(HDC hdc, int mode);
int GetROP2(HDC hdc);

constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
// Every mode stretches by nearest pixel; the mode is kept for callers that ask.
int SetStretchBltMode(HDC hdc, int mode);
int GetStretchBltMode(HDC hdc);

bool SetViewportOrgEx(HDC hdc, int32_t x, int32_t y, POINT* old);
bool GetViewportOrgEx(HDC hdc, POINT* org);
bool SetWindowOrgEx(HDC hdc, int32_t x, int32_t y, POINT* old);
bool GetWindowOrgEx(HDC hdc, POINT* org);
bool OffsetViewportOrgEx(HDC hdc, int32_t dx, int32_t dy, POINT* old);
bool SetBrushOrgEx(HDC hdc, int32_t x, int32_t y, POINT* old);
bool LPtoDP(HDC hdc, POINT* pts, int count);
bool DPtoLP(HDC hdc, POINT* pts, int count);

// ---- Shapes -----------------------------------------------------------------
// Outlines use the pen, interiors the brush, both through the mix mode; hatch
// gaps of an interior show the background colour only in opaque background
// mode. A closed figure drawn with the null pen fills one pixel less at its
// right and bottom edge (as the outline would have taken that pixel).
bool MoveToEx(HDC hdc, int32_t x, int32_t y, POINT* old);
bool GetCurrentPositionEx(HDC hdc, POINT* pos);
// Draws from the current position up to, not including, (x, y).
bool LineTo(HDC hdc, int32_t x, int32_t y);
bool Polyline(HDC hdc, const POINT* pts, int count);
constexpr int ALTERNATE = 1;
constexpr int WINDING = 2;
int SetPolyFillMode(HDC hdc, int mode);
int GetPolyFillMode(HDC hdc);
bool Polygon(HDC hdc, const POINT* pts, int count);
bool Rectangle(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b);
bool Ellipse(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b);
bool RoundRect(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h);
// The part of the ellipse in the box running counter-clockwise (as seen on the
// screen) from the ray through (x1, y1) to the ray through (x2, y2).
bool Arc(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t x1, int32_t y1, int32_t x2,
         int32_t y2);
// Pattern fills: FillRect and FrameRect take the brush given, copy it (the mix
// mode does not apply) and paint hatch gaps in the background colour whatever
// the background mode.
int FillRect(HDC hdc, const RECT* rc, HBRUSH brush);
int FrameRect(HDC hdc, const RECT* rc, HBRUSH brush);
bool InvertRect(HDC hdc, const RECT* rc);
COLORREF SetPixel(HDC hdc, int32_t x, int32_t y, COLORREF color);
COLORREF GetPixel(HDC hdc, int32_t x, int32_t y);

// ---- Blits ----------------------------------------------------------------
// Raster operations: any ternary operation of pattern (brush), source and
// destination by its index byte.
constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr uint32_t SRCPAINT = 0x00EE0086;
constexpr uint32_t SRCAND = 0x008800C6;
constexpr uint32_t SRCINVERT = 0x00660046;
constexpr uint32_t SRCERASE = 0x00440328;
constexpr uint32_t NOTSRCCOPY = 0x00330008;
constexpr uint32_t NOTSRCERASE = 0x001100A6;
constexpr uint32_t MERGECOPY = 0x00C000CA;
constexpr uint32_t MERGEPAINT = 0x00BB0226;
constexpr uint32_t PATCOPY = 0x00F00021;
constexpr uint32_t PATPAINT = 0x00FB0A09;
constexpr uint32_t PATINVERT = 0x005A0049;
constexpr uint32_t DSTINVERT = 0x00550009;
constexpr uint32_t BLACKNESS = 0x00000042;
constexpr uint32_t WHITENESS = 0x00FF0062;
// Between colour and monochrome: a colour source pixel equal to the source
// context's background colour becomes 1 (white), any other 0; a monochrome
// (black and white) source draws 0 in the destination's text colour and 1 in
// its background colour. A 1-bit bitmap with other table colours draws those.
bool BitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx, int32_t sy,
            uint32_t rop);
// Nearest-pixel scaling; negative widths or heights mirror.
bool StretchBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh, uint32_t rop);
bool PatBlt(HDC hdc, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rop);
int StretchDIBits(HDC hdc, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx, int32_t sy,
                  int32_t sw, int32_t sh, const void* bits, const BITMAPINFO* bmi, uint32_t usage,
                  uint32_t rop);

// ---- Regions ----------------------------------------------------------------
constexpr int ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;

constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;

HRGN CreateRectRgn(int32_t l, int32_t t, int32_t r, int32_t b);
HRGN CreateRectRgnIndirect(const RECT* rc);
HRGN CreateRoundRectRgn(int32_t l, int32_t t, int32_t r, int32_t b, int32_t w, int32_t h);
HRGN CreateEllipticRgn(int32_t l, int32_t t, int32_t r, int32_t b);
HRGN CreateEllipticRgnIndirect(const RECT* rc);
HRGN CreatePolygonRgn(const POINT* pts, int count, int fillMode);
// dst receives src1 op src2 (src2 unused for RGN_COPY); dst may be either source.
int CombineRgn(HRGN dst, HRGN src1, HRGN src2, int mode);
int OffsetRgn(HRGN rgn, int32_t dx, int32_t dy);
bool PtInRegion(HRGN rgn, int32_t x, int32_t y);
bool RectInRegion(HRGN rgn, const RECT* rc);
bool EqualRgn(HRGN a, HRGN b);
int GetRgnBox(HRGN rgn, RECT* rc);
bool SetRectRgn(HRGN rgn, int32_t l, int32_t t, int32_t r, int32_t b);

// Stored region data: a 32-byte header (dwSize 32, iType 1, nCount, nRgnSize =
// 16 x nCount, the bounding rectangle) followed by nCount 16-byte rectangles
// sorted in bands of equal top and bottom, left to right within a band.
struct RGNDATAHEADER {
  uint32_t dwSize = 32;
  uint32_t iType = 1;
  uint32_t nCount = 0;
  uint32_t nRgnSize = 0;
  RECT rcBound;
};
constexpr uint32_t RDH_RECTANGLES = 1;
// With data == nullptr (or size too small) returns the size needed; otherwise
// the bytes written; 0 for an unknown region.
uint32_t GetRegionData(HRGN rgn, uint32_t size, void* data);
// Builds a region from stored data. The header, count, sizes and every
// rectangle are checked: a damaged block gives 0. Rectangles may overlap or be
// in any order; the result is their union. The transform must be null.
HRGN ExtCreateRegion(const void* xform, uint32_t size, const void* data);

// Region fills mix through the mix mode and paint hatch gaps in the background
// colour whatever the background mode. Regions are in logical coordinates.
bool FillRgn(HDC hdc, HRGN rgn, HBRUSH brush);
bool PaintRgn(HDC hdc, HRGN rgn);  // with the selected brush
bool FrameRgn(HDC hdc, HRGN rgn, HBRUSH brush, int32_t w, int32_t h);
bool InvertRgn(HDC hdc, HRGN rgn);

// Clipping of a device context, in device coordinates for regions and logical
// coordinates for rectangles. It is kept apart from a window context's own
// paint clip: both always apply.
int SelectClipRgn(HDC hdc, HRGN rgn);  // 0 removes the clip region
int ExtSelectClipRgn(HDC hdc, HRGN rgn, int mode);
int IntersectClipRect(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b);
int ExcludeClipRect(HDC hdc, int32_t l, int32_t t, int32_t r, int32_t b);
int OffsetClipRgn(HDC hdc, int32_t dx, int32_t dy);
// 1 and the clip region copied into rgn; 0 when there is none; -1 on error.
int GetClipRgn(HDC hdc, HRGN rgn);
// Bounding box of what can be drawn (clip, paint clip and surface), logical.
int GetClipBox(HDC hdc, RECT* rc);
bool PtVisible(HDC hdc, int32_t x, int32_t y);

// ---- Palettes ---------------------------------------------------------------
struct PALETTEENTRY {
  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;
};
struct LOGPALETTE {
  uint16_t palVersion = 0x300;
  std::vector<PALETTEENTRY> palPalEntry;
};
// Surfaces hold true colour, so selecting and realising change no pixels.
HPALETTE CreatePalette(const LOGPALETTE& lp);
HPALETTE SelectPalette(HDC hdc, HPALETTE pal, bool forceBackground);
uint32_t RealizePalette(HDC hdc);
uint32_t GetPaletteEntries(HPALETTE pal, uint32_t start, uint32_t count, PALETTEENTRY* entries);
uint32_t GetNearestPaletteIndex(HPALETTE pal, COLORREF color);

// ---- Fonts and text -----------------------------------------------------------
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr uint8_t DEFAULT_CHARSET = 1;
constexpr uint8_t DEFAULT_PITCH = 0;
constexpr uint8_t FIXED_PITCH = 1;
constexpr uint8_t VARIABLE_PITCH = 2;

struct LOGFONT {
  int32_t lfHeight = 0;  // < 0: character height in pixels; > 0: cell height
  int32_t lfWidth = 0;
  int32_t lfEscapement = 0;  // tenths of a degree, counter-clockwise
  int32_t lfOrientation = 0;
  int32_t lfWeight = FW_NORMAL;
  uint8_t lfItalic = 0;
  uint8_t lfUnderline = 0;
  uint8_t lfStrikeOut = 0;
  uint8_t lfCharSet = DEFAULT_CHARSET;
  uint8_t lfOutPrecision = 0;
  uint8_t lfClipPrecision = 0;
  uint8_t lfQuality = 0;
  uint8_t lfPitchAndFamily = 0;
  std::string lfFaceName;
};

constexpr uint8_t TMPF_FIXED_PITCH = 0x01;  // set for variable pitch (sic, as callers expect)
constexpr uint8_t TMPF_VECTOR = 0x02;
constexpr uint8_t TMPF_TRUETYPE = 0x04;

struct TEXTMETRIC {
  int32_t tmHeight = 0;
  int32_t tmAscent = 0;
  int32_t tmDescent = 0;
  int32_t tmInternalLeading = 0;
  int32_t tmExternalLeading = 0;
  int32_t tmAveCharWidth = 0;
  int32_t tmMaxCharWidth = 0;
  int32_t tmWeight = 0;
  int32_t tmOverhang = 0;
  uint8_t tmItalic = 0;
  uint8_t tmUnderlined = 0;
  uint8_t tmStruckOut = 0;
  uint8_t tmPitchAndFamily = 0;
  uint8_t tmCharSet = 0;
};

// Faces come from fontconfig and are rendered by FreeType (monochrome, hinted).
// A face that is not installed falls back to the system's sans face; without
// any usable face file a built-in box font keeps text measurable.
HFONT CreateFontIndirect(const LOGFONT& lf);
HFONT CreateFont(int32_t height, int32_t width, int32_t escapement, int32_t orientation,
                 int32_t weight, bool italic, bool underline, bool strikeOut, uint8_t charSet,
                 const std::string& face);
bool GetTextMetrics(HDC hdc, TEXTMETRIC* tm);
// Name of the face actually used for the selected font.
std::string GetTextFace(HDC hdc);
// Width (advance including character extra) and height of a line of UTF-8 text.
bool GetTextExtentPoint32(HDC hdc, const std::string& text, SIZE* size);
int SetTextCharacterExtra(HDC hdc, int extra);
int GetTextCharacterExtra(HDC hdc);
// Outlined text: with a width above 0, text drawn afterwards (not rotated) is
// not filled; the outline of every glyph is stroked with a line of that many
// pixels in the text colour. 0 fills again. Returns the previous width.
int SetTextStrokeWidth(HDC hdc, int width);
int GetTextStrokeWidth(HDC hdc);

constexpr uint32_t TA_LEFT = 0;
constexpr uint32_t TA_RIGHT = 2;
constexpr uint32_t TA_CENTER = 6;
constexpr uint32_t TA_TOP = 0;
constexpr uint32_t TA_BOTTOM = 8;
constexpr uint32_t TA_BASELINE = 24;
constexpr uint32_t TA_UPDATECP = 1;
uint32_t SetTextAlign(HDC hdc, uint32_t align);
uint32_t GetTextAlign(HDC hdc);

constexpr uint32_t ETO_OPAQUE = 0x0002;
constexpr uint32_t ETO_CLIPPED = 0x0004;
// Text at (x, y) by the text alignment, turned by the font's escapement about
// that point. With an opaque background mode the cells get the background colour.
bool TextOut(HDC hdc, int32_t x, int32_t y, const std::string& text);
bool ExtTextOut(HDC hdc, int32_t x, int32_t y, uint32_t options, const RECT* rc,
                const std::string& text, const int32_t* dx = nullptr);

constexpr uint32_t DT_TOP = 0x00000000;
constexpr uint32_t DT_LEFT = 0x00000000;
constexpr uint32_t DT_CENTER = 0x00000001;
constexpr uint32_t DT_RIGHT = 0x00000002;
constexpr uint32_t DT_VCENTER = 0x00000004;
constexpr uint32_t DT_BOTTOM = 0x00000008;
constexpr uint32_t DT_WORDBREAK = 0x00000010;
constexpr uint32_t DT_SINGLELINE = 0x00000020;
constexpr uint32_t DT_EXPANDTABS = 0x00000040;
constexpr uint32_t DT_TABSTOP = 0x00000080;
constexpr uint32_t DT_NOCLIP = 0x00000100;
constexpr uint32_t DT_EXTERNALLEADING = 0x00000200;
constexpr uint32_t DT_CALCRECT = 0x00000400;
constexpr uint32_t DT_NOPREFIX = 0x00000800;
constexpr uint32_t DT_INTERNAL = 0x00001000;
constexpr uint32_t DT_EDITCONTROL = 0x00002000;
constexpr uint32_t DT_PATH_ELLIPSIS = 0x00004000;
constexpr uint32_t DT_END_ELLIPSIS = 0x00008000;
constexpr uint32_t DT_MODIFYSTRING = 0x00010000;
constexpr uint32_t DT_RTLREADING = 0x00020000;
constexpr uint32_t DT_WORD_ELLIPSIS = 0x00040000;
constexpr uint32_t DT_HIDEPREFIX = 0x00100000;
// Lays out UTF-8 text in the rectangle: lines split at line feeds (and, with
// DT_WORDBREAK, between words; DT_EDITCONTROL also breaks a word wider than the
// line and leaves out a last line that would show only in part), tabs expanded
// to 8 average characters with DT_EXPANDTABS, "&x" underlines x unless
// DT_NOPREFIX ("&&" is one "&"), ellipses replace what does not fit on a line.
// DT_VCENTER and DT_BOTTOM act on single-line text. DT_CALCRECT only measures:
// the rectangle's right and bottom are set to what drawing would cover.
// DT_RTLREADING is accepted and lays lines out as DT_LEFT/DT_RIGHT say (callers
// that read right to left swap the alignment themselves).
// Returns the height of the text (0 on failure).
int DrawText(HDC hdc, const std::string& text, RECT* rc, uint32_t format);
int DrawTextEx(HDC hdc, const std::string& text, RECT* rc, uint32_t format, const void* params);

// ---- Edges, system colours and metrics ----------------------------------------
constexpr uint32_t BDR_RAISEDOUTER = 0x0001;
constexpr uint32_t BDR_SUNKENOUTER = 0x0002;
constexpr uint32_t BDR_RAISEDINNER = 0x0004;
constexpr uint32_t BDR_SUNKENINNER = 0x0008;
constexpr uint32_t BDR_OUTER = 0x0003;
constexpr uint32_t BDR_INNER = 0x000C;
constexpr uint32_t EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr uint32_t EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr uint32_t EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
constexpr uint32_t EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;

constexpr uint32_t BF_LEFT = 0x0001;
constexpr uint32_t BF_TOP = 0x0002;
constexpr uint32_t BF_RIGHT = 0x0004;
constexpr uint32_t BF_BOTTOM = 0x0008;
constexpr uint32_t BF_TOPLEFT = BF_TOP | BF_LEFT;
constexpr uint32_t BF_BOTTOMRIGHT = BF_BOTTOM | BF_RIGHT;
constexpr uint32_t BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
constexpr uint32_t BF_MIDDLE = 0x0800;
constexpr uint32_t BF_SOFT = 0x1000;
constexpr uint32_t BF_ADJUST = 0x2000;
constexpr uint32_t BF_FLAT = 0x4000;
constexpr uint32_t BF_MONO = 0x8000;
// Outer edge on the rectangle's border, inner edge one pixel inside. Colours
// (top-left / bottom-right): raised outer 3D light / dark shadow, raised inner
// highlight / shadow, sunken outer shadow / highlight, sunken inner dark shadow
// / light. BF_SOFT swaps the top-left colours of outer and inner. BF_FLAT draws
// the outer edge in the shadow colour and the inner in the face colour, BF_MONO
// in the window frame and window colours. The top-left colour owns the left
// and top line except their last pixel, which belongs to the right and bottom
// lines. BF_ADJUST moves each drawn side in by its edge widths; BF_MIDDLE fills
// what is left with the face (window for flat and mono) colour.
bool DrawEdge(HDC hdc, RECT* rc, uint32_t edge, uint32_t flags);

constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_ACTIVECAPTION = 2;
constexpr int COLOR_INACTIVECAPTION = 3;
constexpr int COLOR_MENU = 4;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWFRAME = 6;
constexpr int COLOR_MENUTEXT = 7;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_CAPTIONTEXT = 9;
constexpr int COLOR_ACTIVEBORDER = 10;
constexpr int COLOR_INACTIVEBORDER = 11;
constexpr int COLOR_APPWORKSPACE = 12;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_INACTIVECAPTIONTEXT = 19;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_INFOTEXT = 23;
constexpr int COLOR_INFOBK = 24;
constexpr int COLOR_HOTLIGHT = 26;
constexpr int COLOR_GRADIENTACTIVECAPTION = 27;
constexpr int COLOR_GRADIENTINACTIVECAPTION = 28;
constexpr int COLOR_MENUHILIGHT = 29;
constexpr int COLOR_MENUBAR = 30;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_3DSHADOW = COLOR_BTNSHADOW;
constexpr int COLOR_3DHILIGHT = COLOR_BTNHIGHLIGHT;
constexpr int COLOR_3DHIGHLIGHT = COLOR_BTNHIGHLIGHT;
constexpr int COLOR_BTNHILIGHT = COLOR_BTNHIGHLIGHT;
constexpr int COLOR_MAX = 31;
// 0 for an index outside the table.
COLORREF GetSysColor(int index);
// A stock solid brush of the colour (never to be deleted); 0 outside the table.
HBRUSH GetSysColorBrush(int index);
bool SetSysColors(int count, const int* indexes, const COLORREF* colors);

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CYVTHUMB = 9;
constexpr int SM_CXHTHUMB = 10;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXCURSOR = 13;
constexpr int SM_CYCURSOR = 14;
constexpr int SM_CYMENU = 15;
constexpr int SM_CYVSCROLL = 20;
constexpr int SM_CXHSCROLL = 21;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CYFRAME = 33;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;
constexpr int SM_CYSMCAPTION = 51;
constexpr int SM_CXEDGE = 45;
constexpr int SM_CYEDGE = 46;
constexpr int SM_CXFIXEDFRAME = SM_CXDLGFRAME;
constexpr int SM_CYFIXEDFRAME = SM_CYDLGFRAME;
constexpr int SM_CXSIZEFRAME = SM_CXFRAME;
constexpr int SM_CYSIZEFRAME = SM_CYFRAME;
int GetSystemMetrics(int index);

// ---- Icons --------------------------------------------------------------------
struct ICONINFO {
  bool fIcon = true;
  uint32_t xHotspot = 0;
  uint32_t yHotspot = 0;
  HBITMAP hbmMask = 0;   // monochrome AND mask (1 = keep the background)
  HBITMAP hbmColor = 0;  // colour image, XOR-ed where the mask is 1
};
// The icon keeps copies of both bitmaps.
HICON CreateIconIndirect(const ICONINFO* info);
HICON CopyIcon(HICON icon);
bool DestroyIcon(HICON icon);
// Fills info with new copies of the icon's bitmaps (the caller deletes them).
bool GetIconInfo(HICON icon, ICONINFO* info);
constexpr uint32_t DI_MASK = 1;
constexpr uint32_t DI_IMAGE = 2;
constexpr uint32_t DI_NORMAL = 3;
// Draws the mask with SRCAND and the image with SRCINVERT, scaled to w x h
// (0 = the icon's own size).
bool DrawIconEx(HDC hdc, int32_t x, int32_t y, HICON icon, int32_t w, int32_t h, uint32_t step,
                HBRUSH flicker, uint32_t flags);
bool DrawIcon(HDC hdc, int32_t x, int32_t y, HICON icon);

// ---- Window contexts ----------------------------------------------------------
// Every window has a backing store of 24-bit pixels, sized to its window
// rectangle on use; the client area sits centred in it (border widths equal on
// opposite sides). The display layer presents it.
// GetDC(0) gives the screen context: it measures text and answers device
// capabilities without a display; drawing into it changes nothing.
HDC GetDC(HWND hwnd);
HDC GetWindowDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);

struct PAINTSTRUCT {
  HDC hdc = 0;
  bool fErase = false;
  RECT rcPaint;
};
// A client context clipped to the update region (its paint clip, which
// SelectClipRgn does not replace); the update region is then empty.
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
bool EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
// Adds to the update region (nullptr: the whole client area). When the region
// turns from empty to not empty the paint request hook runs (by default it
// posts WM_PAINT to the window).
bool InvalidateRect(HWND hwnd, const RECT* rc, bool erase);
bool InvalidateRgn(HWND hwnd, HRGN rgn, bool erase);
bool ValidateRect(HWND hwnd, const RECT* rc);
bool GetUpdateRect(HWND hwnd, RECT* rc, bool erase);
int GetUpdateRgn(HWND hwnd, HRGN rgn, bool erase);
// Sends WM_PAINT at once when the update region is not empty.
bool UpdateWindow(HWND hwnd);
void SetPaintRequestHook(std::function<void(HWND)> hook);

// The window region (in window coordinates). The window owns a region handed
// to it: the caller must not use or delete it afterwards. 0 removes it.
int SetWindowRgn(HWND hwnd, HRGN rgn, bool redraw);
// Copies the window region into rgn; ERROR when the window has none.
int GetWindowRgn(HWND hwnd, HRGN rgn);

// For the display layer: the backing store's size, pixels (top-down 24-bit rows,
// stride DibStride(width, 24)) and a copy of the window region (0 when none).
bool GetWindowSurface(HWND hwnd, int32_t* width, int32_t* height, std::vector<uint8_t>* pixels);
// Forgets everything kept for a window (called when it is destroyed; stale
// entries of dead windows are also swept on use).
void ReleaseWindowSurface(HWND hwnd);

}  // namespace plat
