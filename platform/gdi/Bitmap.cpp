// Bitmaps: creation, row access, device-independent transfers and BMP files.
#include <algorithm>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace plat {

using namespace gdi;

namespace {

bool ValidDepth(int bpp) { return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32; }

constexpr int32_t kMaxSide = 32768;

std::vector<RGBQUAD> DefaultTable(int bpp) {
  std::vector<RGBQUAD> t;
  auto add = [&](int r, int g, int b) {
    t.push_back(RGBQUAD{uint8_t(b), uint8_t(g), uint8_t(r), 0});
  };
  if (bpp == 1) {
    add(0, 0, 0);
    add(255, 255, 255);
    return t;
  }
  // The 16 colours of the classic display adapters.
  static const int vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                 {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                 {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                 {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  for (auto& c : vga) add(c[0], c[1], c[2]);
  if (bpp == 4) return t;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) add(r * 51, g * 51, b * 51);
  for (int i = 0; i < 24; ++i) {
    int v = 8 + i * 10;
    add(v, v, v);
  }
  return t;
}

// A copy of the surface at another depth; same-depth indexed surfaces keep
// their indices and table.
Surface Convert(const Surface& src, int bpp) {
  if (bpp == src.bpp) return src;
  Surface out;
  out.Allocate(src.width, src.height, bpp);
  if (bpp <= 8) out.table = DefaultTable(bpp);
  for (int32_t y = 0; y < src.height; ++y)
    for (int32_t x = 0; x < src.width; ++x) out.Set(x, y, src.Get(x, y));
  return out;
}

HBITMAP NewBitmap(Surface s) {
  auto b = std::make_shared<BitmapObj>();
  b->s = std::move(s);
  return Register(b);
}

std::shared_ptr<BitmapObj> B(HBITMAP h) { return LookupAs<BitmapObj>(h, OBJ_BITMAP); }

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

// What a file may hold: the uncompressed depths, 16-bit 5-5-5 pixels, and
// run-length compressed 8- and 4-bit rows.
bool ValidFileFormat(int bpp, uint32_t compression) {
  if (compression == BI_RGB) return ValidDepth(bpp) || bpp == 16;
  if (compression == BI_RLE8) return bpp == 8;
  if (compression == BI_RLE4) return bpp == 4;
  return false;
}

// A 5-bit channel spread over 8 bits so that full intensity stays 255.
uint8_t Expand5(uint32_t v) { return uint8_t((v << 3) | (v >> 2)); }

// Run-length compressed rows, bottom row first, into an indexed surface.
// Runs and deltas that reach past the picture are clipped: nothing is ever
// written outside it. The data must end with the end-of-bitmap mark or
// after the last row; data that stops inside a command or before the last
// row is refused.
bool DecodeRle(const uint8_t* p, size_t n, int bpp, Surface& s, std::string* error) {
  int64_t x = 0, row = 0;  // row counts from the bottom; both only grow
  auto put = [&](int index) {
    if (x < s.width && row < s.height) s.SetIndex(int32_t(x), int32_t(s.height - 1 - row), index);
    ++x;
  };
  size_t i = 0;
  while (i + 2 <= n) {
    uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count > 0) {  // a run of one index (8 bits) or two alternating indices (4 bits)
      if (x >= s.width || row >= s.height) {
        x += count;
        continue;
      }
      for (int k = 0; k < count; ++k)
        put(bpp == 8 ? value : (k & 1) ? (value & 0x0F) : (value >> 4));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // move right and up
      if (i + 2 > n) return Fail(error, "compressed data truncated");
      x += p[i];
      row += p[i + 1];
      i += 2;
    } else {  // `value` literal indices, padded to a 16-bit boundary
      size_t bytes = bpp == 8 ? value : (size_t(value) + 1) / 2;
      if (i + bytes > n) return Fail(error, "compressed data truncated");
      for (int k = 0; k < value; ++k) {
        uint8_t b = p[i + (bpp == 8 ? size_t(k) : size_t(k) / 2)];
        put(bpp == 8 ? b : (k & 1) ? (b & 0x0F) : (b >> 4));
      }
      i += bytes + (bytes & 1);
    }
    if (row >= s.height && x == 0) return true;  // every row is done
  }
  if (row >= s.height) return true;
  return Fail(error, "compressed data truncated");
}

}  // namespace

int32_t DibStride(int32_t width, int bitCount) {
  if (width <= 0 || bitCount <= 0) return 0;
  return int32_t(((int64_t(width) * bitCount + 31) / 32) * 4);
}

HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t, uint32_t bitCount, const void* bits) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) return 0;
  int bpp = bitCount == 1 ? 1 : 24;
  Surface s;
  s.Allocate(width, height, bpp);
  if (bits && width > 0) {
    const uint8_t* p = static_cast<const uint8_t*>(bits);
    if (bpp == 1) {
      int32_t rowBytes = ((width + 15) / 16) * 2;
      for (int32_t y = 0; y < height; ++y)
        std::memcpy(s.bits.data() + size_t(y) * size_t(s.stride), p + size_t(y) * size_t(rowBytes),
                    size_t((width + 7) / 8));
    } else {
      int srcBpp = bitCount == 32 ? 32 : 24;
      int32_t rowBytes = ((width * (srcBpp / 8) + 1) / 2) * 2;
      for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
          const uint8_t* q = p + size_t(y) * size_t(rowBytes) + size_t(x) * size_t(srcBpp / 8);
          s.Set(x, y, RGB(q[2], q[1], q[0]));
        }
    }
  }
  return NewBitmap(std::move(s));
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int32_t width, int32_t height) {
  auto dc = LookupDC(hdc);
  if (!dc || width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) return 0;
  Surface* t = dc->target();
  Surface s;
  s.Allocate(width, height, (dc->memory && t && t->bpp == 1) ? 1 : 24);
  return NewBitmap(std::move(s));
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* bmi, uint32_t, void** bits) {
  if (!bmi) return 0;
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  int32_t height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (!ValidDepth(h.biBitCount) || h.biWidth < 0 || h.biWidth > kMaxSide || height > kMaxSide ||
      h.biCompression != BI_RGB)
    return 0;
  Surface s;
  s.Allocate(h.biWidth, height, h.biBitCount);
  s.dib = true;
  if (s.bpp <= 8) {
    size_t n = h.biClrUsed ? std::min<size_t>(h.biClrUsed, s.table.size()) : s.table.size();
    for (size_t i = 0; i < n; ++i) s.table[i] = bmi->bmiColors[i];
  }
  auto b = std::make_shared<BitmapObj>();
  b->s = std::move(s);
  if (bits) *bits = b->s.bits.empty() ? nullptr : b->s.bits.data();
  return Register(b);
}

uint8_t* GetBitmapScanLine(HBITMAP bitmap, int32_t row) {
  auto b = B(bitmap);
  if (!b || row < 0 || row >= b->s.height || b->s.bits.empty()) return nullptr;
  return b->s.bits.data() + size_t(row) * size_t(b->s.stride);
}

std::vector<RGBQUAD> GetBitmapColorTable(HBITMAP bitmap) {
  auto b = B(bitmap);
  return b ? b->s.table : std::vector<RGBQUAD>();
}

bool SetBitmapColorTable(HBITMAP bitmap, const std::vector<RGBQUAD>& table) {
  auto b = B(bitmap);
  if (!b || b->s.bpp > 8) return false;
  for (size_t i = 0; i < table.size() && i < b->s.table.size(); ++i) b->s.table[i] = table[i];
  return true;
}

COLORREF GetBitmapPixel(HBITMAP bitmap, int32_t x, int32_t y) {
  auto b = B(bitmap);
  return b ? b->s.Get(x, y) : CLR_INVALID;
}

int GetDIBits(HDC, HBITMAP bitmap, uint32_t start, uint32_t lines, void* bits, BITMAPINFO* bmi,
              uint32_t) {
  auto b = B(bitmap);
  if (!b || !bmi) return 0;
  BITMAPINFOHEADER& h = bmi->bmiHeader;
  int bpp = h.biBitCount ? h.biBitCount : b->s.bpp;
  if (bpp == 16) bpp = 24;
  if (!ValidDepth(bpp)) return 0;
  bool topDown = h.biHeight < 0;
  const Surface& src = b->s;
  Surface conv = Convert(src, bpp);
  h.biSize = 40;
  h.biWidth = src.width;
  h.biHeight = topDown ? -src.height : src.height;
  h.biPlanes = 1;
  h.biBitCount = uint16_t(bpp);
  h.biCompression = BI_RGB;
  h.biSizeImage = uint32_t(DibStride(src.width, bpp)) * uint32_t(src.height);
  h.biClrUsed = 0;
  h.biClrImportant = 0;
  if (bpp <= 8)
    for (size_t i = 0; i < conv.table.size() && i < 256; ++i) bmi->bmiColors[i] = conv.table[i];
  if (!bits) return src.height;
  uint8_t* out = static_cast<uint8_t*>(bits);
  int copied = 0;
  for (uint32_t r = start; r < start + lines && r < uint32_t(src.height); ++r) {
    int32_t y = topDown ? int32_t(r) : src.height - 1 - int32_t(r);
    std::memcpy(out + size_t(r - start) * size_t(conv.stride),
                conv.bits.data() + size_t(y) * size_t(conv.stride), size_t(conv.stride));
    ++copied;
  }
  return copied;
}

int SetDIBits(HDC, HBITMAP bitmap, uint32_t start, uint32_t lines, const void* bits,
              const BITMAPINFO* bmi, uint32_t) {
  auto b = B(bitmap);
  if (!b || !bmi || !bits) return 0;
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  if (!ValidDepth(h.biBitCount) || h.biWidth <= 0 || h.biCompression != BI_RGB) return 0;
  int32_t height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  Surface src;
  src.bpp = h.biBitCount;
  src.width = h.biWidth;
  src.height = 1;
  src.stride = DibStride(h.biWidth, h.biBitCount);
  if (src.bpp <= 8) {
    src.table.assign(size_t(1) << src.bpp, RGBQUAD{});
    size_t n = h.biClrUsed ? std::min<size_t>(h.biClrUsed, src.table.size()) : src.table.size();
    for (size_t i = 0; i < n; ++i) src.table[i] = bmi->bmiColors[i];
  }
  Surface& dst = b->s;
  bool sameIndexed = dst.bpp == src.bpp && dst.bpp <= 8;
  const uint8_t* in = static_cast<const uint8_t*>(bits);
  int copied = 0;
  for (uint32_t r = start; r < start + lines && r < uint32_t(height); ++r) {
    int32_t y = h.biHeight < 0 ? int32_t(r) : height - 1 - int32_t(r);
    if (y >= dst.height) continue;
    src.bits.assign(in + size_t(r - start) * size_t(src.stride),
                    in + size_t(r - start + 1) * size_t(src.stride));
    for (int32_t x = 0; x < std::min(src.width, dst.width); ++x) {
      if (sameIndexed) dst.SetIndex(x, y, src.Index(x, 0));
      else dst.Set(x, y, src.Get(x, 0));
    }
    ++copied;
  }
  if (sameIndexed) dst.table = src.table;
  return copied;
}

int StretchDIBits(HDC hdc, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx, int32_t sy,
                  int32_t sw, int32_t sh, const void* bits, const BITMAPINFO* bmi, uint32_t usage,
                  uint32_t rop) {
  if (!bmi || !bits) return 0;
  BITMAPINFO info = *bmi;
  HBITMAP tmp = CreateDIBSection(hdc, &info, usage, nullptr);
  if (!tmp) return 0;
  int32_t height = info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
  SetDIBits(hdc, tmp, 0, uint32_t(height), bits, &info, usage);
  HDC mem = CreateCompatibleDC(hdc);
  HGDIOBJ old = SelectObject(mem, tmp);
  bool ok = StretchBlt(hdc, x, y, w, h, mem, sx, sy, sw, sh, rop);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(tmp);
  return ok ? height : 0;
}

uint32_t BitmapFileSize(const uint8_t* data, size_t size) {
  if (!data || size < 6 || data[0] != 'B' || data[1] != 'M') return 0;
  return Get32(data + 2);
}

HBITMAP LoadBitmapFile(const uint8_t* data, size_t size, std::string* error, size_t* consumed) {
  if (!data || size < 14 + 40) return Fail(error, "file too short"), 0;
  if (data[0] != 'B' || data[1] != 'M') return Fail(error, "not a bitmap file"), 0;
  uint32_t fileSize = Get32(data + 2);
  uint32_t offBits = Get32(data + 10);
  if (fileSize < 14 + 40 || fileSize > size) return Fail(error, "bad file size"), 0;
  const uint8_t* ih = data + 14;
  uint32_t biSize = Get32(ih);
  int32_t width = int32_t(Get32(ih + 4));
  int32_t rawHeight = int32_t(Get32(ih + 8));
  uint16_t planes = Get16(ih + 12);
  uint16_t bpp = Get16(ih + 14);
  uint32_t compression = Get32(ih + 16);
  uint32_t sizeImage = Get32(ih + 20);
  uint32_t clrUsed = Get32(ih + 32);
  uint32_t clrImportant = Get32(ih + 36);
  if (biSize != 40) return Fail(error, "unsupported info header"), 0;
  if (planes != 1) return Fail(error, "bad plane count"), 0;
  if (!ValidDepth(bpp) && bpp != 16) return Fail(error, "unsupported bit count"), 0;
  if (!ValidFileFormat(bpp, compression))
    return Fail(error, "unsupported compression for the bit count"), 0;
  bool rle = compression != BI_RGB;
  if (width <= 0 || width > kMaxSide || rawHeight == 0 || rawHeight == INT32_MIN ||
      std::abs(rawHeight) > kMaxSide)
    return Fail(error, "bad dimensions"), 0;
  // Compressed rows always run from the bottom up.
  if (rle && rawHeight < 0) return Fail(error, "bad dimensions"), 0;
  int32_t height = std::abs(rawHeight);
  uint32_t maxTable = bpp <= 8 ? (1u << bpp) : 256u;
  if (clrUsed > maxTable) return Fail(error, "bad colour count"), 0;
  uint32_t tableLen = bpp <= 8 ? (clrUsed ? clrUsed : (1u << bpp)) : clrUsed;
  if (clrImportant > tableLen) return Fail(error, "bad important colour count"), 0;
  uint64_t stride = uint64_t(DibStride(width, bpp));
  uint64_t image = stride * uint64_t(height);
  uint64_t tableEnd = 14 + 40 + uint64_t(tableLen) * 4;
  if (offBits < tableEnd || offBits > fileSize) return Fail(error, "bad bits offset"), 0;
  if (rle) {
    // The image size is the length of the compressed data; 0 means up to the file's end.
    image = sizeImage ? sizeImage : fileSize - offBits;
  } else if (sizeImage != 0 && sizeImage < image) {
    return Fail(error, "bad image size"), 0;
  }
  if (uint64_t(offBits) + image > fileSize) return Fail(error, "pixel data truncated"), 0;
  Surface s;
  // 16-bit pixels are kept at 24 bits: the surfaces have no 16-bit layout.
  s.Allocate(width, height, bpp == 16 ? 24 : bpp);
  if (bpp <= 8) {
    for (uint32_t i = 0; i < tableLen; ++i) {
      const uint8_t* q = data + 54 + size_t(i) * 4;
      s.table[i] = RGBQUAD{q[0], q[1], q[2], 0};
    }
    for (size_t i = tableLen; i < s.table.size(); ++i) s.table[i] = RGBQUAD{};
  }
  if (rle) {
    if (!DecodeRle(data + offBits, size_t(image), bpp, s, error)) return 0;
  } else if (bpp == 16) {
    for (int32_t r = 0; r < height; ++r) {
      int32_t y = rawHeight < 0 ? r : height - 1 - r;
      const uint8_t* in = data + offBits + size_t(r) * size_t(stride);
      for (int32_t x = 0; x < width; ++x) {
        uint32_t v = Get16(in + size_t(x) * 2);
        s.Set(x, y, RGB(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31)));
      }
    }
  } else {
    for (int32_t r = 0; r < height; ++r) {
      int32_t y = rawHeight < 0 ? r : height - 1 - r;
      std::memcpy(s.bits.data() + size_t(y) * size_t(s.stride),
                  data + offBits + size_t(r) * size_t(stride), size_t(stride));
    }
  }
  s.dib = true;
  if (consumed) *consumed = fileSize;
  if (error) error->clear();
  return NewBitmap(std::move(s));
}

std::vector<uint8_t> SaveBitmapFile(HBITMAP bitmap, int bitCount) {
  std::vector<uint8_t> out;
  auto b = B(bitmap);
  if (!b || b->s.width <= 0 || b->s.height <= 0) return out;
  int bpp = bitCount ? bitCount : b->s.bpp;
  if (bpp == 16) bpp = 24;
  if (!ValidDepth(bpp)) return out;
  Surface s = Convert(b->s, bpp);
  uint32_t tableLen = bpp <= 8 ? (1u << bpp) : 0;
  uint32_t infoSize = 40 + tableLen * 4;
  uint32_t image = uint32_t(s.stride) * uint32_t(s.height);
  out.reserve(14 + infoSize + image);
  out.push_back('B');
  out.push_back('M');
  Put32(out, 14 + infoSize + image);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, 14 + infoSize);
  Put32(out, 40);
  Put32(out, uint32_t(s.width));
  Put32(out, uint32_t(s.height));
  Put16(out, 1);
  Put16(out, uint16_t(bpp));
  Put32(out, BI_RGB);
  Put32(out, image);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (uint32_t i = 0; i < tableLen; ++i) {
    RGBQUAD q = i < s.table.size() ? s.table[i] : RGBQUAD{};
    out.push_back(q.rgbBlue);
    out.push_back(q.rgbGreen);
    out.push_back(q.rgbRed);
    out.push_back(0);
  }
  for (int32_t y = s.height - 1; y >= 0; --y) {
    const uint8_t* row = s.bits.data() + size_t(y) * size_t(s.stride);
    out.insert(out.end(), row, row + s.stride);
  }
  return out;
}

}  // namespace plat
