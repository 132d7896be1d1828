// Images over the platform's device contexts: bitmaps, icons and pictures.
#include "framework/Graphics.h"
#include "framework/GraphicsInternal.h"

#include <algorithm>
#include <cstring>

#include "platform/gdi/ByteOrder.h"

namespace fw {

using namespace plat;

// ---- TGraphic ---------------------------------------------------------------

void TGraphic::Changed() {
  FModified = true;
  if (OnChange) OnChange(this);
}

void TGraphic::SetTransparent(bool Value) {
  if (FTransparent == Value) return;
  FTransparent = Value;
  Changed();
}

void TGraphic::LoadFromFile(const std::string& FileName) { LoadFileThroughStream(*this, FileName); }

void TGraphic::SaveToFile(const std::string& FileName) { SaveFileThroughStream(*this, FileName); }

// ---- TBitmap ----------------------------------------------------------------

class TBitmap::TBitmapCanvas : public TCanvas {
public:
  explicit TBitmapCanvas(TBitmap* Owner) : FOwner(Owner) {}

protected:
  void CreateHandle() override {
    // An empty bitmap keeps the context's own 1 x 1 bitmap selected.
    if (!FOwner->FDC) {
      FOwner->FDC = CreateCompatibleDC(0);
      FOwner->FOldBitmap = GetCurrentObject(FOwner->FDC, OBJ_BITMAP);
      if (FOwner->FHandle) SelectObject(FOwner->FDC, FOwner->FHandle);
    }
    SetHandle(FOwner->FDC);
  }
  void Changed() override {
    TCanvas::Changed();
    FOwner->Changed();
  }

private:
  TBitmap* FOwner;
};

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
  if (FCanvas) FCanvas->SetHandle(0);
  if (FDC) {
    SelectObject(FDC, FOldBitmap);
    DeleteDC(FDC);
  }
  if (FHandle) DeleteObject(FHandle);
}

namespace {
int BitsOf(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf32bit: return 32;
    default: return 24;
  }
}
TPixelFormat FormatOf(int bpp) {
  switch (bpp) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 32: return pf32bit;
    default: return pf24bit;
  }
}
HBITMAP NewDib(int32_t w, int32_t h, int bpp) {
  if (bpp == 4 || bpp == 8) {
    // Made at 24 bits and saved down, which gives it the standard colour table.
    HBITMAP full = NewDib(w, h, 24);
    if (!full) return 0;
    std::vector<uint8_t> file = SaveBitmapFile(full, bpp);
    DeleteObject(full);
    return LoadBitmapFile(file.data(), file.size());
  }
  BITMAPINFO bi{};
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biBitCount = uint16_t(bpp);
  if (bpp == 1) {
    bi.bmiColors[0] = RGBQUAD{0, 0, 0, 0};
    bi.bmiColors[1] = RGBQUAD{255, 255, 255, 0};
  }
  return CreateDIBSection(0, &bi, DIB_RGB_COLORS, nullptr);
}
}  // namespace

void TBitmap::Replace(HBITMAP NewHandle) {
  if (FDC) SelectObject(FDC, NewHandle ? NewHandle : FOldBitmap);
  if (FCanvas) FCanvas->Refresh();
  if (FHandle && FHandle != NewHandle) DeleteObject(FHandle);
  FHandle = NewHandle;
  BITMAP bm;
  if (FHandle && GetObject(FHandle, sizeof(bm), &bm)) {
    FWidth = bm.bmWidth;
    FHeight = bm.bmHeight;
  } else {
    FWidth = FHeight = 0;
  }
}

void TBitmap::Changed() { TGraphic::Changed(); }

void TBitmap::SetSize(int32_t AWidth, int32_t AHeight) {
  AWidth = std::max(0, AWidth);
  AHeight = std::max(0, AHeight);
  if (AWidth == FWidth && AHeight == FHeight) return;
  HBITMAP n = 0;
  if (AWidth > 0 && AHeight > 0) {
    n = NewDib(AWidth, AHeight, BitsOf(FPixelFormat));
    if (!n) throw EOutOfResources("Out of system resources");
    if (FHandle) {
      HDC a = CreateCompatibleDC(0), b = CreateCompatibleDC(0);
      HGDIOBJ oa = SelectObject(a, n), ob = SelectObject(b, FHandle);
      BitBlt(a, 0, 0, std::min(AWidth, FWidth), std::min(AHeight, FHeight), b, 0, 0, SRCCOPY);
      SelectObject(a, oa);
      SelectObject(b, ob);
      DeleteDC(a);
      DeleteDC(b);
    }
  }
  Replace(n);
  Changed();
}

void TBitmap::SetHandle(HBITMAP Value) {
  if (Value == FHandle) return;
  BITMAP bm;
  if (Value && GetObject(Value, sizeof(bm), &bm)) FPixelFormat = FormatOf(bm.bmBitsPixel);
  Replace(Value);
  Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
  HBITMAP h = FHandle;
  if (FDC) SelectObject(FDC, FOldBitmap);
  if (FCanvas) FCanvas->Refresh();
  FHandle = 0;
  FWidth = FHeight = 0;
  return h;
}

TCanvas* TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TBitmapCanvas>(this);
  return FCanvas.get();
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  if (Value == FPixelFormat) return;
  int from = BitsOf(FPixelFormat), to = BitsOf(Value);
  FPixelFormat = Value;
  if (FHandle && from != to) {
    std::vector<uint8_t> file = SaveBitmapFile(FHandle, to);
    HBITMAP n = LoadBitmapFile(file.data(), file.size());
    if (!n) throw EOutOfResources("Out of system resources");
    Replace(n);
  }
  Changed();
}

void TBitmap::SetMonochrome(bool Value) {
  if (Value == Monochrome()) return;
  SetPixelFormat(Value ? pf1bit : pfDevice);
}

uint8_t* TBitmap::ScanLine(int32_t Row) {
  uint8_t* p = FHandle ? GetBitmapScanLine(FHandle, Row) : nullptr;
  if (!p) throw EInvalidGraphicOperation("Scan line index out of range");
  return p;
}

TColor TBitmap::TransparentColor() {
  if (FTransparentMode == tmFixed && FTransparentColor != clDefault)
    return TColor(ColorToRGB(FTransparentColor) | 0x02000000);
  if (Monochrome() || Empty()) return TColor(0x02FFFFFF);
  return TColor(GetBitmapPixel(FHandle, 0, FHeight - 1) | 0x02000000);
}

void TBitmap::SetTransparentColor(TColor Value) {
  if (Value == FTransparentColor) return;
  FTransparentColor = Value;
  FTransparentMode = Value == clDefault ? tmAuto : tmFixed;
  Changed();
}

void TBitmap::SetTransparentMode(TTransparentMode Value) {
  if (Value == FTransparentMode) return;
  if (Value == tmAuto) SetTransparentColor(clDefault);
  else SetTransparentColor(TransparentColor() & 0xFFFFFF);
}

void TBitmap::Assign(TPersistent* Source) {
  if (!Source) {
    Replace(0);
    Changed();
    return;
  }
  if (auto* b = dynamic_cast<TBitmap*>(Source)) {
    if (b == this) return;
    HBITMAP n = 0;
    if (b->FHandle) {
      std::vector<uint8_t> file = SaveBitmapFile(b->FHandle);
      n = LoadBitmapFile(file.data(), file.size());
    }
    FPixelFormat = b->FPixelFormat;
    FTransparentColor = b->FTransparentColor;
    FTransparentMode = b->FTransparentMode;
    FTransparent = b->FTransparent;
    Replace(n);
    Changed();
    return;
  }
  if (auto* g = dynamic_cast<TGraphic*>(Source)) {
    // Any other graphic is drawn on white.
    SetSize(0, 0);
    SetPixelFormat(pf24bit);
    SetSize(g->Width(), g->Height());
    if (!Empty()) {
      Canvas()->Brush()->SetColor(clWhite);
      Canvas()->Brush()->SetStyle(bsSolid);
      Canvas()->FillRect(TRect{0, 0, FWidth, FHeight});
      Canvas()->Draw(0, 0, g);
    }
    return;
  }
  TPersistent::Assign(Source);
}

void TBitmap::LoadFromStream(TStream* Stream) {
  uint8_t head[14];
  int32_t got = Stream->Read(head, sizeof(head));
  uint32_t total = BitmapFileSize(head, size_t(got));
  if (got < int32_t(sizeof(head)) || total < 54 || total > (1u << 30))
    throw EInvalidGraphic("Bitmap image is not valid");
  // The header's size is only a claim: never reserve more than the stream still holds.
  if (int64_t(total - sizeof(head)) > Stream->Size() - Stream->Position())
    throw EInvalidGraphic("Bitmap image is not valid");
  std::vector<uint8_t> file(total);
  std::memcpy(file.data(), head, sizeof(head));
  if (Stream->Read(file.data() + sizeof(head), int32_t(total - sizeof(head))) !=
      int32_t(total - sizeof(head)))
    throw EInvalidGraphic("Bitmap image is not valid");
  std::string why;
  HBITMAP n = LoadBitmapFile(file.data(), file.size(), &why);
  if (!n) throw EInvalidGraphic("Bitmap image is not valid");
  BITMAP bm;
  GetObject(n, sizeof(bm), &bm);
  FPixelFormat = FormatOf(bm.bmBitsPixel);
  Replace(n);
  Changed();
}

void TBitmap::SaveToStream(TStream* Stream) {
  if (Empty()) return;
  std::vector<uint8_t> file = SaveBitmapFile(FHandle);
  Stream->WriteBuffer(file.data(), int32_t(file.size()));
}

void TBitmap::Mask(TColor TransparentColor) {
  if (Empty()) return;
  HBITMAP mask = NewDib(FWidth, FHeight, 1);
  HDC m = CreateCompatibleDC(0);
  HGDIOBJ om = SelectObject(m, mask);
  HDC src = Canvas()->Handle();
  COLORREF oldBk = SetBkColor(src, ColorToRGB(TransparentColor));
  BitBlt(m, 0, 0, FWidth, FHeight, src, 0, 0, SRCCOPY);
  SetBkColor(src, oldBk);
  SelectObject(m, om);
  DeleteDC(m);
  FPixelFormat = pf1bit;
  Replace(mask);
  Changed();
}

void TBitmap::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (Empty()) return;
  HDC dst = ACanvas->Handle();
  HDC src = Canvas()->Handle();
  if (!FTransparent) {
    COLORREF ot = SetTextColor(dst, 0), ob = SetBkColor(dst, 0xFFFFFF);
    StretchBlt(dst, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), src, 0, 0, FWidth, FHeight,
               ACanvas->CopyMode());
    SetTextColor(dst, ot);
    SetBkColor(dst, ob);
    return;
  }
  // Transparent: mask of the transparent colour, then the picture with those pixels black.
  COLORREF key = ColorToRGB(TransparentColor() & 0xFFFFFF);
  TScratchDC mask(FWidth, FHeight, 1);
  COLORREF oldBk = SetBkColor(src, key);
  BitBlt(mask.DC(), 0, 0, FWidth, FHeight, src, 0, 0, SRCCOPY);
  SetBkColor(src, oldBk);
  TScratchDC pic(FWidth, FHeight, 24);
  BitBlt(pic.DC(), 0, 0, FWidth, FHeight, src, 0, 0, SRCCOPY);
  DrawMasked(dst, Rect, pic.DC(), mask.DC(), FWidth, FHeight, SRCAND);
}

// ---- TIcon --------------------------------------------------------------------

TIcon::~TIcon() {
  if (FHandle) DestroyIcon(FHandle);
}

void TIcon::SetWidth(int32_t) {
  throw EInvalidGraphicOperation("Cannot change the size of an icon");
}
void TIcon::SetHeight(int32_t) {
  throw EInvalidGraphicOperation("Cannot change the size of an icon");
}

void TIcon::SetHandle(HICON Value) {
  if (Value == FHandle) return;
  if (FHandle) DestroyIcon(FHandle);
  FHandle = Value;
  FWidth = FHeight = 0;
  ICONINFO ii;
  if (FHandle && GetIconInfo(FHandle, &ii)) {
    BITMAP bm;
    if (GetObject(ii.hbmColor, sizeof(bm), &bm)) {
      FWidth = bm.bmWidth;
      FHeight = bm.bmHeight;
    }
    DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
  }
  Changed();
}

HICON TIcon::ReleaseHandle() {
  HICON h = FHandle;
  FHandle = 0;
  FWidth = FHeight = 0;
  return h;
}

void TIcon::Assign(TPersistent* Source) {
  if (!Source) {
    SetHandle(0);
    return;
  }
  if (auto* i = dynamic_cast<TIcon*>(Source)) {
    if (i == this) return;
    SetHandle(i->FHandle ? CopyIcon(i->FHandle) : 0);
    FTransparent = i->FTransparent;
    return;
  }
  TPersistent::Assign(Source);
}

namespace {

using plat::gdi::Get16;
using plat::gdi::Get32;
using plat::gdi::Put16;
using plat::gdi::Put32;

[[noreturn]] void BadIcon() { throw EInvalidGraphic("Icon image is not valid"); }

}  // namespace

void TIcon::LoadFromStream(TStream* Stream) {
  // The directory first; everything it claims is checked against what follows.
  uint8_t dir[6];
  if (Stream->Read(dir, 6) != 6 || Get16(dir) != 0 || Get16(dir + 2) != 1) BadIcon();
  uint16_t count = Get16(dir + 4);
  if (count == 0 || count > 256) BadIcon();
  std::vector<uint8_t> entries(size_t(count) * 16);
  if (Stream->Read(entries.data(), int32_t(entries.size())) != int32_t(entries.size())) BadIcon();
  const uint8_t* e = entries.data();  // the first image is taken
  uint32_t bytes = Get32(e + 8), offset = Get32(e + 12);
  uint32_t dirEnd = 6 + uint32_t(count) * 16;
  if (bytes < 40 || bytes > (1u << 24) || offset < dirEnd) BadIcon();
  // Skip to the image (the stream may not seek backwards; read forward).
  std::vector<uint8_t> skip(offset - dirEnd);
  if (!skip.empty() && Stream->Read(skip.data(), int32_t(skip.size())) != int32_t(skip.size()))
    BadIcon();
  std::vector<uint8_t> img(bytes);
  if (Stream->Read(img.data(), int32_t(bytes)) != int32_t(bytes)) BadIcon();
  if (Get32(img.data()) != 40) BadIcon();
  int32_t w = int32_t(Get32(img.data() + 4)), h2 = int32_t(Get32(img.data() + 8));
  uint16_t bpp = Get16(img.data() + 14);
  if (w <= 0 || w > 256 || h2 <= 0 || h2 > 512 || (h2 & 1)) BadIcon();
  int32_t h = h2 / 2;
  uint32_t clrUsed = Get32(img.data() + 32);
  uint32_t table = bpp <= 8 ? (clrUsed ? clrUsed : (1u << bpp)) : 0;
  if (bpp <= 8 && clrUsed > (1u << bpp)) BadIcon();
  uint64_t xorBytes = uint64_t(DibStride(w, bpp)) * uint64_t(h);
  uint64_t andBytes = uint64_t(DibStride(w, 1)) * uint64_t(h);
  uint64_t need = 40 + uint64_t(table) * 4 + xorBytes + andBytes;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) BadIcon();
  if (need > bytes) BadIcon();
  // The colour part as a bitmap file of the single height.
  std::vector<uint8_t> file;
  uint32_t off = 14 + 40 + table * 4;
  file.push_back('B');
  file.push_back('M');
  Put32(file, uint32_t(off + xorBytes));
  Put32(file, 0);
  Put32(file, off);
  file.insert(file.end(), img.begin(), img.begin() + 40);
  uint32_t hh = uint32_t(h);
  std::memcpy(file.data() + 14 + 8, &hh, 4);
  if (Get32(img.data() + 16) != 0) BadIcon();                       // compressed images are not read
  for (int k : {20, 36}) std::memset(file.data() + 14 + k, 0, 4);  // image size, important colours
  file.insert(file.end(), img.begin() + 40, img.begin() + 40 + long(table) * 4 + long(xorBytes));
  HBITMAP colour = LoadBitmapFile(file.data(), file.size());
  if (!colour) BadIcon();
  // The AND mask, bottom-up rows of 1 bit.
  HBITMAP mask = CreateBitmap(w, h, 1, 1, nullptr);
  const uint8_t* andRows = img.data() + 40 + size_t(table) * 4 + size_t(xorBytes);
  int32_t stride = DibStride(w, 1);
  for (int32_t r = 0; r < h; ++r) {
    uint8_t* row = GetBitmapScanLine(mask, h - 1 - r);
    std::memcpy(row, andRows + size_t(r) * size_t(stride), size_t(stride));
  }
  ICONINFO ii;
  ii.hbmColor = colour;
  ii.hbmMask = mask;
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(colour);
  DeleteObject(mask);
  if (!icon) BadIcon();
  SetHandle(icon);
}

void TIcon::SaveToStream(TStream* Stream) {
  if (!FHandle) return;
  ICONINFO ii;
  if (!GetIconInfo(FHandle, &ii)) return;
  std::vector<uint8_t> colour = SaveBitmapFile(ii.hbmColor, 24);
  std::vector<uint8_t> maskFile = SaveBitmapFile(ii.hbmMask, 1);
  DeleteObject(ii.hbmColor);
  DeleteObject(ii.hbmMask);
  if (colour.size() < 54 || maskFile.size() < 62) return;
  uint32_t xorBytes = uint32_t(colour.size() - 54);
  uint32_t andBytes = uint32_t(maskFile.size() - 62);
  uint32_t bytes = 40 + xorBytes + andBytes;
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 1);
  out.push_back(uint8_t(FWidth >= 256 ? 0 : FWidth));
  out.push_back(uint8_t(FHeight >= 256 ? 0 : FHeight));
  out.push_back(0);
  out.push_back(0);
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, bytes);
  Put32(out, 22);
  size_t head = out.size();
  out.insert(out.end(), colour.begin() + 14, colour.begin() + 54);
  uint32_t h2 = uint32_t(FHeight * 2);
  std::memcpy(out.data() + head + 8, &h2, 4);
  uint32_t sizeImage = xorBytes + andBytes;
  std::memcpy(out.data() + head + 20, &sizeImage, 4);
  out.insert(out.end(), colour.begin() + 54, colour.end());
  out.insert(out.end(), maskFile.begin() + 62, maskFile.end());
  Stream->WriteBuffer(out.data(), int32_t(out.size()));
}

void TIcon::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (!FHandle) return;
  DrawIconEx(ACanvas->Handle(), Rect.Left, Rect.Top, FHandle, Rect.Width(), Rect.Height(), 0, 0,
             DI_NORMAL);
}

// ---- TPicture -----------------------------------------------------------------

TPicture::~TPicture() = default;

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

void TPicture::Take(std::unique_ptr<TGraphic> G) {
  FGraphic = std::move(G);
  if (FGraphic) FGraphic->OnChange = [this](TObject*) { Changed(); };
  Changed();
}

void TPicture::SetGraphic(TGraphic* Value) {
  if (!Value) {
    Take(nullptr);
    return;
  }
  std::unique_ptr<TGraphic> copy;
  if (dynamic_cast<TIcon*>(Value)) copy = std::make_unique<TIcon>();
  else copy = std::make_unique<TBitmap>();
  copy->Assign(Value);
  Take(std::move(copy));
}

void TPicture::Assign(TPersistent* Source) {
  if (!Source) {
    SetGraphic(nullptr);
    return;
  }
  if (auto* p = dynamic_cast<TPicture*>(Source)) {
    if (p != this) SetGraphic(p->Graphic());
    return;
  }
  if (auto* g = dynamic_cast<TGraphic*>(Source)) {
    SetGraphic(g);
    return;
  }
  TPersistent::Assign(Source);
}

TBitmap* TPicture::Bitmap() {
  if (!dynamic_cast<TBitmap*>(FGraphic.get())) Take(std::make_unique<TBitmap>());
  return static_cast<TBitmap*>(FGraphic.get());
}

TIcon* TPicture::Icon() {
  if (!dynamic_cast<TIcon*>(FGraphic.get())) Take(std::make_unique<TIcon>());
  return static_cast<TIcon*>(FGraphic.get());
}

namespace {
std::string Extension(const std::string& name) {
  size_t dot = name.find_last_of('.');
  size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string e = name.substr(dot + 1);
  for (auto& c : e) if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return e;
}
}  // namespace

void TPicture::LoadFromFile(const std::string& FileName) {
  std::string ext = Extension(FileName);
  std::unique_ptr<TGraphic> g;
  if (ext == "bmp") g = std::make_unique<TBitmap>();
  else if (ext == "ico") g = std::make_unique<TIcon>();
  else throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  g->LoadFromFile(FileName);
  Take(std::move(g));
}

void TPicture::SaveToFile(const std::string& FileName) {
  if (FGraphic) FGraphic->SaveToFile(FileName);
}

}  // namespace fw
