// Fonts and text: faces found through fontconfig, rendered by FreeType as
// monochrome hinted glyphs; a built-in box font when no face file loads.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_GLYPH_H
#include FT_STROKER_H

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/gdi/GdiInternal.h"

// Fontconfig leaves one block of its configuration parse unreachable when it
// initialises; leak checks of sanitizer builds are told so (a program may
// still give its own list, which then takes the place of this one).
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace plat {

using namespace gdi;

namespace gdi {

struct Glyph {
  int32_t advance = 0;
  int32_t left = 0, top = 0;  // bitmap offset from the pen position (top: above the baseline)
  int32_t width = 0, rows = 0, pitch = 0;
  std::vector<uint8_t> bits;  // 1 bit per pixel, MSB first
};

struct Face {
  FT_Face ft = nullptr;  // nullptr: the built-in box font
  std::string family;
  int32_t em = 0;
  int32_t ascent = 0, descent = 0, externalLeading = 0;
  int32_t aveWidth = 0, maxWidth = 0;
  int32_t underlinePos = 1, underlineThickness = 1;
  int32_t weight = FW_NORMAL;
  bool italic = false;
  uint8_t pitchAndFamily = 0;
  std::unordered_map<uint32_t, Glyph> glyphs;
  std::unordered_map<uint64_t, Glyph> stroked;  // key: stroke width << 32 | code point
};

State::State() = default;
State::~State() = default;

}  // namespace gdi

namespace {

// Starts FreeType once per state. Caller holds textMu.
FT_Library Library() {
  State& st = St();
  if (!st.fontsStarted) {
    st.fontsStarted = true;
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) == 0) st.fontLibrary = l;
  }
  return st.fontLibrary;
}

std::string Lower(std::string s) {
  for (auto& c : s) if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// File and family of the best installed face; empty when fontconfig finds none.
bool MatchFile(const std::string& family, bool bold, bool italic, std::string* file,
               std::string* matched) {
  if (FcInit() != FcTrue) return false;  // at once when fontconfig was started already
  FcPattern* pat = FcPatternCreate();
  if (!pat) return false;
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult res;
  FcPattern* m = FcFontMatch(nullptr, pat, &res);
  FcPatternDestroy(pat);
  if (!m) return false;
  FcChar8* f = nullptr;
  FcChar8* fam = nullptr;
  bool found = FcPatternGetString(m, FC_FILE, 0, &f) == FcResultMatch && f;
  if (found) {
    *file = reinterpret_cast<const char*>(f);
    if (FcPatternGetString(m, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
      *matched = reinterpret_cast<const char*>(fam);
  }
  FcPatternDestroy(m);
  return found;
}

FT_Face OpenFace(const std::string& requested, bool bold, bool italic, std::string* family) {
  FT_Library lib = Library();
  if (!lib) return nullptr;
  std::string file, matched;
  std::vector<std::string> tries;
  // A face that is not installed falls back to the sans face.
  if (MatchFile(requested.empty() ? "sans-serif" : requested, bold, italic, &file, &matched) &&
      Lower(matched) == Lower(requested))
    tries.push_back(file);
  file.clear();
  if (MatchFile("sans-serif", bold, italic, &file, &matched)) tries.push_back(file);
  tries.push_back(bold ? "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
                       : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
  for (auto& path : tries) {
    FT_Face face = nullptr;
    if (FT_New_Face(lib, path.c_str(), 0, &face) == 0) {
      if (family) *family = face->family_name ? face->family_name : matched;
      return face;
    }
  }
  return nullptr;
}

// Caller holds textMu.
Face& FaceFor(const LOGFONT& lf) {
  auto& cache = St().faces;
  bool bold = lf.lfWeight >= 600;
  bool italic = lf.lfItalic != 0;
  std::string key = Lower(lf.lfFaceName) + "|" + std::to_string(lf.lfHeight) + "|" +
                    std::to_string(bold) + std::to_string(italic);
  auto it = cache.find(key);
  if (it != cache.end()) return *it->second;
  auto f = std::make_unique<Face>();
  f->ft = OpenFace(lf.lfFaceName, bold, italic, &f->family);
  f->weight = bold ? FW_BOLD : FW_NORMAL;
  f->italic = italic;
  int32_t h = lf.lfHeight;
  if (h == 0) h = -13;
  h = std::clamp(h, -1000, 1000);
  if (f->ft) {
    FT_Face ft = f->ft;
    int32_t em = h < 0 ? -h : 0;
    if (h > 0) {
      double cell = double(ft->ascender - ft->descender);
      if (TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2)))
        cell = double(os2->usWinAscent) + double(os2->usWinDescent);
      em = std::max(1, int32_t(std::lround(h * double(ft->units_per_EM) / std::max(1.0, cell))));
    }
    em = std::max(1, em);
    FT_Set_Pixel_Sizes(ft, 0, FT_UInt(em));
    f->em = em;
    double scale = double(em) / ft->units_per_EM;
    double asc = ft->ascender, desc = -ft->descender;
    if (TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2))) {
      asc = os2->usWinAscent;
      desc = os2->usWinDescent;
    }
    f->ascent = int32_t(std::ceil(asc * scale - 0.01));
    f->descent = int32_t(std::ceil(desc * scale - 0.01));
    f->externalLeading =
        std::max(0, int32_t(std::lround(ft->height * scale)) - f->ascent - f->descent);
    f->underlinePos = std::max(1, int32_t(std::lround(-ft->underline_position * scale)));
    f->underlineThickness = std::max(1, int32_t(std::lround(ft->underline_thickness * scale)));
    f->maxWidth = int32_t(std::lround(ft->max_advance_width * scale));
    f->pitchAndFamily = uint8_t((FT_IS_FIXED_WIDTH(ft) ? 0 : TMPF_FIXED_PITCH) |
                                (FT_IS_SCALABLE(ft) ? TMPF_VECTOR : 0) |
                                (FT_IS_SFNT(ft) ? TMPF_TRUETYPE : 0) | 0x20 /* swiss */);
  } else {
    f->family = "Box";
    f->em = h < 0 ? -h : std::max(1, h * 4 / 5);
    f->ascent = f->em;
    f->descent = std::max(1, f->em / 4);
    f->maxWidth = f->em / 2 + 1;
  }
  Face& ref = *f;
  cache.emplace(key, std::move(f));
  return ref;
}

const Glyph& GlyphOf(Face& f, uint32_t cp) {
  auto it = f.glyphs.find(cp);
  if (it != f.glyphs.end()) return it->second;
  Glyph g;
  if (cp < 0x20) {
    // Control characters take no room and draw nothing (tabs are expanded by layout).
  } else if (f.ft && FT_Load_Char(f.ft, cp,
                                  FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) == 0) {
    FT_GlyphSlot s = f.ft->glyph;
    g.advance = int32_t((s->advance.x + 32) >> 6);
    g.left = s->bitmap_left;
    g.top = s->bitmap_top;
    g.width = int32_t(s->bitmap.width);
    g.rows = int32_t(s->bitmap.rows);
    g.pitch = std::abs(s->bitmap.pitch);
    if (s->bitmap.pixel_mode == FT_PIXEL_MODE_MONO && s->bitmap.buffer)
      g.bits.assign(s->bitmap.buffer, s->bitmap.buffer + size_t(g.pitch) * size_t(g.rows));
    else
      g.width = g.rows = 0;
  } else if (!f.ft) {
    // Box font: an outlined box per character, nothing for blanks.
    g.advance = f.em / 2 + 1;
    if (cp > ' ') {
      g.width = std::max(1, f.em / 2 - 1);
      g.rows = std::max(1, f.em * 7 / 10);
      g.left = 1;
      g.top = g.rows;
      g.pitch = (g.width + 7) / 8;
      g.bits.assign(size_t(g.pitch) * size_t(g.rows), 0);
      for (int32_t y = 0; y < g.rows; ++y)
        for (int32_t x = 0; x < g.width; ++x)
          if (y == 0 || y == g.rows - 1 || x == 0 || x == g.width - 1)
            g.bits[size_t(y) * size_t(g.pitch) + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
    }
  }
  return f.glyphs.emplace(cp, std::move(g)).first->second;
}

// The glyph's outline stroked with a line Width pixels wide (round caps and
// joins), as a monochrome bitmap placed like the filled glyph. Faces without
// outlines (the box font, bitmap faces) keep their filled glyph.
const Glyph& StrokedGlyphOf(Face& f, uint32_t cp, int32_t width) {
  const uint64_t key = (uint64_t(uint32_t(width)) << 32) | cp;
  auto it = f.stroked.find(key);
  if (it != f.stroked.end()) return it->second;
  const Glyph& filled = GlyphOf(f, cp);
  Glyph g = filled;
  FT_Stroker stroker = nullptr;
  if (cp >= 0x20 && f.ft && FT_Load_Char(f.ft, cp, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) == 0 &&
      f.ft->glyph->format == FT_GLYPH_FORMAT_OUTLINE && FT_Stroker_New(Library(), &stroker) == 0) {
    // Radius in 26.6 units: half the line width on either side of the outline.
    FT_Stroker_Set(stroker, FT_Fixed(width) * 32, FT_STROKER_LINECAP_ROUND,
                   FT_STROKER_LINEJOIN_ROUND, 0);
    FT_Glyph glyph = nullptr;
    if (FT_Get_Glyph(f.ft->glyph, &glyph) == 0) {
      if (FT_Glyph_Stroke(&glyph, stroker, 1) == 0 &&
          FT_Glyph_To_Bitmap(&glyph, FT_RENDER_MODE_MONO, nullptr, 1) == 0) {
        auto* bg = reinterpret_cast<FT_BitmapGlyph>(glyph);
        g.left = bg->left;
        g.top = bg->top;
        g.width = int32_t(bg->bitmap.width);
        g.rows = int32_t(bg->bitmap.rows);
        g.pitch = std::abs(bg->bitmap.pitch);
        g.bits.clear();
        if (bg->bitmap.pixel_mode == FT_PIXEL_MODE_MONO && bg->bitmap.buffer)
          g.bits.assign(bg->bitmap.buffer, bg->bitmap.buffer + size_t(g.pitch) * size_t(g.rows));
        else
          g.width = g.rows = 0;
      }
      FT_Done_Glyph(glyph);
    }
    FT_Stroker_Done(stroker);
  }
  return f.stroked.emplace(key, std::move(g)).first->second;
}

std::vector<uint32_t> Decode(const std::string& s) {
  std::vector<uint32_t> out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint8_t c = uint8_t(s[i]);
    uint32_t cp = 0xFFFD;
    int n = 0;
    if (c < 0x80) { cp = c; n = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 3; }
    else { out.push_back(0xFFFD); ++i; continue; }
    if (n > 0 && i + size_t(n) >= s.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool bad = false;
    for (int k = 1; k <= n; ++k) {
      uint8_t d = uint8_t(s[i + size_t(k)]);
      if ((d & 0xC0) != 0x80) { bad = true; break; }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (bad) { out.push_back(0xFFFD); ++i; continue; }
    out.push_back(cp);
    i += size_t(n) + 1;
  }
  return out;
}

Face& DCFace(DCObj& dc) { return FaceFor(dc.st.font ? dc.st.font->lf : LOGFONT()); }

// One unit of laid-out text.
struct Unit {
  uint32_t cp;
  bool underline;
};
using Line = std::vector<Unit>;

int32_t TabWidth(Face& f) { return 8 * std::max(1, f.aveWidth ? f.aveWidth : f.em / 2); }

int32_t AdvanceOf(Face& f, uint32_t cp, int extra) { return GlyphOf(f, cp).advance + extra; }

// Width of a line; tabs (when expanded) move to the next tab stop from the line start.
int32_t LineWidth(Face& f, const Line& line, int extra, bool tabs) {
  int32_t w = 0;
  for (auto& u : line) {
    if (u.cp == '\t' && tabs) {
      int32_t t = TabWidth(f);
      w = (w / t + 1) * t;
    } else {
      w += AdvanceOf(f, u.cp, extra);
    }
  }
  return w;
}

void EnsureAverage(Face& f) {
  if (f.aveWidth == 0) f.aveWidth = std::max(1, GlyphOf(f, 'x').advance);
}

// Draws one glyph with its top-left bitmap corner at device (x, y).
void BlitGlyph(DCObj& dc, const Glyph& g, int32_t x, int32_t y, COLORREF c, const RECT* clip) {
  for (int32_t j = 0; j < g.rows; ++j)
    for (int32_t i = 0; i < g.width; ++i) {
      if (!(g.bits[size_t(j) * size_t(g.pitch) + size_t(i / 8)] & (0x80 >> (i % 8)))) continue;
      int32_t px = x + i, py = y + j;
      if (clip && (px < clip->left || px >= clip->right || py < clip->top || py >= clip->bottom))
        continue;
      PlotRaw(dc, px, py, c);
    }
}

void FillDeviceRect(DCObj& dc, int32_t l, int32_t t, int32_t r, int32_t b, COLORREF c,
                    const RECT* clip) {
  if (clip) {
    l = std::max(l, clip->left); t = std::max(t, clip->top);
    r = std::min(r, clip->right); b = std::min(b, clip->bottom);
  }
  for (int32_t y = t; y < b; ++y)
    for (int32_t x = l; x < r; ++x) PlotRaw(dc, x, y, c);
}

// Draws a line of units with its cell's top-left corner at device (x, y),
// without rotation. Returns the width drawn.
int32_t DrawUnits(DCObj& dc, Face& f, const Line& line, int32_t x, int32_t y, bool tabs,
                  bool underlineAll, bool strike, const RECT* clip, const int32_t* dx) {
  int extra = dc.st.charExtra;
  COLORREF fg = StripFlags(dc.st.textColor);
  int32_t width = 0;
  std::vector<int32_t> pos;
  pos.reserve(line.size() + 1);
  for (size_t k = 0; k < line.size(); ++k) {
    pos.push_back(width);
    const Unit& u = line[k];
    if (dx) width += dx[k];
    else if (u.cp == '\t' && tabs) { int32_t t = TabWidth(f); width = (width / t + 1) * t; }
    else width += AdvanceOf(f, u.cp, extra);
  }
  pos.push_back(width);
  int32_t height = f.ascent + f.descent;
  if (dc.st.bkMode == OPAQUE)
    FillDeviceRect(dc, x, y, x + width, y + height, StripFlags(dc.st.bkColor), clip);
  int32_t base = y + f.ascent;
  for (size_t k = 0; k < line.size(); ++k) {
    const Unit& u = line[k];
    if (u.cp != '\t' && u.cp != ' ') {
      const Glyph& g =
          dc.st.textStroke > 0 ? StrokedGlyphOf(f, u.cp, dc.st.textStroke) : GlyphOf(f, u.cp);
      BlitGlyph(dc, g, x + pos[k] + g.left, base - g.top, fg, clip);
    }
    if (underlineAll || u.underline) {
      int32_t uy = base + f.underlinePos;
      FillDeviceRect(dc, x + pos[k], uy, x + pos[k + 1], uy + f.underlineThickness, fg, clip);
    }
  }
  if (strike) {
    int32_t sy = base - std::max(1, f.ascent / 3);
    FillDeviceRect(dc, x, sy, x + width, sy + f.underlineThickness, fg, clip);
  }
  return width;
}

void DrawRotated(DCObj& dc, Face& f, const std::vector<uint32_t>& cps, double px, double py,
                 double angle, bool underline) {
  int extra = dc.st.charExtra;
  COLORREF fg = StripFlags(dc.st.textColor);
  double c = std::cos(angle), s = std::sin(angle);
  // Pen on the baseline: the cell's top-left corner plus the ascent, turned.
  double bx = px + f.ascent * s, by = py + f.ascent * c;
  double startX = bx, startY = by;
  FT_Matrix m;
  m.xx = FT_Fixed(std::lround(c * 65536));
  m.xy = FT_Fixed(std::lround(-s * 65536));
  m.yx = FT_Fixed(std::lround(s * 65536));
  m.yy = FT_Fixed(std::lround(c * 65536));
  double total = 0;
  for (uint32_t cp : cps) {
    int32_t adv = AdvanceOf(f, cp, extra);
    if (f.ft && cp >= 0x20) {
      FT_Set_Transform(f.ft, &m, nullptr);
      if (FT_Load_Char(f.ft, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) == 0) {
        FT_GlyphSlot g = f.ft->glyph;
        if (g->bitmap.pixel_mode == FT_PIXEL_MODE_MONO && g->bitmap.buffer) {
          Glyph gl;
          gl.width = int32_t(g->bitmap.width);
          gl.rows = int32_t(g->bitmap.rows);
          gl.pitch = std::abs(g->bitmap.pitch);
          gl.bits.assign(g->bitmap.buffer, g->bitmap.buffer + size_t(gl.pitch) * size_t(gl.rows));
          BlitGlyph(dc, gl, int32_t(std::lround(bx)) + g->bitmap_left,
                    int32_t(std::lround(by)) - g->bitmap_top, fg, nullptr);
        }
      }
      FT_Set_Transform(f.ft, nullptr, nullptr);
    }
    bx += adv * c;
    by -= adv * s;
    total += adv;
  }
  if (underline) {
    for (double d = 0; d < total; d += 0.5) {
      double ux = startX + d * c + f.underlinePos * s, uy = startY - d * s + f.underlinePos * c;
      PlotRaw(dc, int32_t(std::floor(ux)), int32_t(std::floor(uy)), fg);
    }
  }
}

}  // namespace

HFONT CreateFontIndirect(const LOGFONT& lf) {
  auto f = std::make_shared<FontObj>();
  f->lf = lf;
  return Register(f);
}

HFONT CreateFont(int32_t height, int32_t width, int32_t escapement, int32_t orientation,
                 int32_t weight, bool italic, bool underline, bool strikeOut, uint8_t charSet,
                 const std::string& face) {
  LOGFONT lf;
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight ? weight : FW_NORMAL;
  lf.lfItalic = italic;
  lf.lfUnderline = underline;
  lf.lfStrikeOut = strikeOut;
  lf.lfCharSet = charSet;
  lf.lfFaceName = face;
  return CreateFontIndirect(lf);
}

bool GetTextMetrics(HDC hdc, TEXTMETRIC* tm) {
  auto dc = LookupDC(hdc);
  if (!dc || !tm) return false;
  std::lock_guard<std::mutex> lock(St().textMu);
  Face& f = DCFace(*dc);
  EnsureAverage(f);
  TEXTMETRIC t;
  t.tmAscent = f.ascent;
  t.tmDescent = f.descent;
  t.tmHeight = f.ascent + f.descent;
  t.tmInternalLeading = std::max(0, t.tmHeight - f.em);
  t.tmExternalLeading = f.externalLeading;
  t.tmAveCharWidth = f.aveWidth;
  t.tmMaxCharWidth = std::max(f.maxWidth, f.aveWidth);
  t.tmWeight = dc->st.font ? dc->st.font->lf.lfWeight : FW_NORMAL;
  t.tmItalic = dc->st.font ? dc->st.font->lf.lfItalic : 0;
  t.tmUnderlined = dc->st.font ? dc->st.font->lf.lfUnderline : 0;
  t.tmStruckOut = dc->st.font ? dc->st.font->lf.lfStrikeOut : 0;
  t.tmPitchAndFamily = f.pitchAndFamily;
  t.tmCharSet = dc->st.font ? dc->st.font->lf.lfCharSet : DEFAULT_CHARSET;
  *tm = t;
  return true;
}

std::string GetTextFace(HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc) return std::string();
  std::lock_guard<std::mutex> lock(St().textMu);
  return DCFace(*dc).family;
}

bool GetTextExtentPoint32(HDC hdc, const std::string& text, SIZE* size) {
  auto dc = LookupDC(hdc);
  if (!dc || !size) return false;
  std::lock_guard<std::mutex> lock(St().textMu);
  Face& f = DCFace(*dc);
  int32_t w = 0;
  for (uint32_t cp : Decode(text)) w += AdvanceOf(f, cp, dc->st.charExtra);
  size->cx = w;
  size->cy = f.ascent + f.descent;
  return true;
}

bool ExtTextOut(HDC hdc, int32_t x, int32_t y, uint32_t options, const RECT* rc,
                const std::string& text, const int32_t* dx) {
  auto dc = LookupDC(hdc);
  if (!dc) return false;
  std::lock_guard<std::mutex> lock(St().textMu);
  Face& f = DCFace(*dc);
  EnsureAverage(f);
  RECT dclip;
  const RECT* clip = nullptr;
  if (rc) {
    POINT a = ToDevice(*dc, rc->left, rc->top), b = ToDevice(*dc, rc->right, rc->bottom);
    dclip = RECT{a.x, a.y, b.x, b.y};
    if (options & ETO_OPAQUE)
      FillDeviceRect(*dc, a.x, a.y, b.x, b.y, StripFlags(dc->st.bkColor), nullptr);
    if (options & ETO_CLIPPED) clip = &dclip;
  }
  std::vector<uint32_t> cps = Decode(text);
  Line line;
  line.reserve(cps.size());
  for (uint32_t cp : cps) line.push_back(Unit{cp, false});
  uint32_t align = dc->st.textAlign;
  if (align & TA_UPDATECP) { x = dc->st.cur.x; y = dc->st.cur.y; }
  int32_t width = 0;
  if (dx) for (size_t k = 0; k < cps.size(); ++k) width += dx[k];
  else width = LineWidth(f, line, dc->st.charExtra, false);
  const LOGFONT* lf = dc->st.font ? &dc->st.font->lf : nullptr;
  int32_t esc = lf ? lf->lfEscapement % 3600 : 0;
  double angle = esc * M_PI / 1800.0;
  // Offset of the cell's top-left corner from the reference point, before turning.
  double ox = 0, oy = 0;
  switch (align & 6) {
    case TA_RIGHT: ox = -width; break;
    case TA_CENTER: ox = -width / 2; break;
    default: break;
  }
  if ((align & TA_BASELINE) == TA_BASELINE) oy = -f.ascent;
  else if (align & TA_BOTTOM) oy = -(f.ascent + f.descent);
  POINT p = ToDevice(*dc, x, y);
  if (esc == 0) {
    DrawUnits(*dc, f, line, p.x + int32_t(ox), p.y + int32_t(oy), false, lf && lf->lfUnderline,
              lf && lf->lfStrikeOut, clip, dx);
  } else {
    double c = std::cos(angle), s = std::sin(angle);
    double cx = p.x + ox * c + oy * s, cy = p.y - ox * s + oy * c;
    DrawRotated(*dc, f, cps, cx, cy, angle, lf && lf->lfUnderline);
  }
  if (align & TA_UPDATECP) dc->st.cur.x += width;
  return true;
}

bool TextOut(HDC hdc, int32_t x, int32_t y, const std::string& text) {
  return ExtTextOut(hdc, x, y, 0, nullptr, text, nullptr);
}

namespace {

// Splits text into lines of units; '&' marks accelerators unless noPrefix.
std::vector<Line> SplitLines(const std::vector<uint32_t>& cps, bool single, bool noPrefix,
                             bool hidePrefix) {
  std::vector<Line> lines(1);
  for (size_t i = 0; i < cps.size(); ++i) {
    uint32_t cp = cps[i];
    if (cp == '\r' || cp == '\n') {
      if (single) continue;
      if (cp == '\r' && i + 1 < cps.size() && cps[i + 1] == '\n') ++i;
      lines.emplace_back();
      continue;
    }
    if (cp == '&' && !noPrefix) {
      if (i + 1 < cps.size()) {
        ++i;
        uint32_t next = cps[i];
        if (next == '\r' || next == '\n') { --i; continue; }
        lines.back().push_back(Unit{next, next != '&' && !hidePrefix});
      }
      continue;
    }
    lines.back().push_back(Unit{cp, false});
  }
  return lines;
}

std::vector<Line> WrapLine(Face& f, const Line& line, int32_t limit, int extra, bool tabs,
                           bool breakWords) {
  std::vector<Line> out;
  Line cur;
  size_t i = 0;
  auto width = [&](const Line& l) { return LineWidth(f, l, extra, tabs); };
  while (i < line.size()) {
    // Next word with the blanks that follow it.
    size_t j = i;
    while (j < line.size() && line[j].cp != ' ' && line[j].cp != '\t') ++j;
    size_t k = j;
    while (k < line.size() && (line[k].cp == ' ' || line[k].cp == '\t')) ++k;
    Line word(line.begin() + long(i), line.begin() + long(j));
    Line candidate = cur;
    candidate.insert(candidate.end(), word.begin(), word.end());
    if (!cur.empty() && width(candidate) > limit) {
      // Trailing blanks of the finished line are dropped.
      while (!cur.empty() && (cur.back().cp == ' ' || cur.back().cp == '\t')) cur.pop_back();
      out.push_back(cur);
      cur.clear();
      candidate = word;
    }
    if (breakWords && width(candidate) > limit && !candidate.empty()) {
      // A word wider than the line is broken between characters.
      Line piece;
      for (auto& u : candidate) {
        Line t = piece;
        t.push_back(u);
        if (!piece.empty() && width(t) > limit) {
          out.push_back(piece);
          piece.clear();
        }
        piece.push_back(u);
      }
      candidate = piece;
    }
    cur = candidate;
    cur.insert(cur.end(), line.begin() + long(j), line.begin() + long(k));
    i = k;
  }
  while (!cur.empty() && (cur.back().cp == ' ' || cur.back().cp == '\t') && !out.empty())
    cur.pop_back();
  out.push_back(cur);
  return out;
}

Line Ellipsis() { return Line{{'.', false}, {'.', false}, {'.', false}}; }

void EndEllipsis(Face& f, Line* line, int32_t limit, int extra, bool tabs) {
  if (LineWidth(f, *line, extra, tabs) <= limit) return;
  Line dots = Ellipsis();
  while (!line->empty()) {
    line->pop_back();
    Line t = *line;
    t.insert(t.end(), dots.begin(), dots.end());
    if (LineWidth(f, t, extra, tabs) <= limit) { *line = t; return; }
  }
  *line = dots;
}

void PathEllipsis(Face& f, Line* line, int32_t limit, int extra, bool tabs) {
  if (LineWidth(f, *line, extra, tabs) <= limit) return;
  size_t cut = line->size();
  for (size_t i = line->size(); i-- > 0;)
    if ((*line)[i].cp == '\\' || (*line)[i].cp == '/') { cut = i; break; }
  if (cut == line->size()) { EndEllipsis(f, line, limit, extra, tabs); return; }
  Line head(line->begin(), line->begin() + long(cut));
  Line tail(line->begin() + long(cut), line->end());
  Line dots = Ellipsis();
  while (!head.empty()) {
    head.pop_back();
    Line t = head;
    t.insert(t.end(), dots.begin(), dots.end());
    t.insert(t.end(), tail.begin(), tail.end());
    if (LineWidth(f, t, extra, tabs) <= limit) { *line = t; return; }
  }
  Line t = dots;
  t.insert(t.end(), tail.begin(), tail.end());
  EndEllipsis(f, &t, limit, extra, tabs);
  *line = t;
}

}  // namespace

int DrawText(HDC hdc, const std::string& text, RECT* rc, uint32_t format) {
  auto dc = LookupDC(hdc);
  if (!dc || !rc) return 0;
  std::lock_guard<std::mutex> lock(St().textMu);
  Face& f = DCFace(*dc);
  EnsureAverage(f);
  bool single = format & DT_SINGLELINE;
  bool tabs = format & DT_EXPANDTABS;
  int extra = dc->st.charExtra;
  int32_t lineHeight =
      f.ascent + f.descent + ((format & DT_EXTERNALLEADING) ? f.externalLeading : 0);
  int32_t limit = rc->right - rc->left;
  std::vector<Line> raw =
      SplitLines(Decode(text), single, format & DT_NOPREFIX, format & DT_HIDEPREFIX);
  std::vector<Line> lines;
  if (text.empty()) raw.clear();  // no text, no line
  for (auto& l : raw) {
    if ((format & DT_WORDBREAK) && !single) {
      auto w = WrapLine(f, l, limit, extra, tabs, format & DT_EDITCONTROL);
      lines.insert(lines.end(), w.begin(), w.end());
    } else {
      lines.push_back(l);
    }
  }
  bool calc = format & DT_CALCRECT;
  if (!calc) {
    for (auto& l : lines) {
      if (format & DT_PATH_ELLIPSIS) PathEllipsis(f, &l, limit, extra, tabs);
      else if (format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS))
        EndEllipsis(f, &l, limit, extra, tabs);
    }
  }
  int32_t total = lineHeight * int32_t(lines.size());
  if (calc) {
    int32_t widest = 0;
    for (auto& l : lines) widest = std::max(widest, LineWidth(f, l, extra, tabs));
    rc->right = rc->left + widest;
    rc->bottom = rc->top + total;
    return total;
  }
  int32_t y = rc->top;
  if (single) {
    if (format & DT_VCENTER) y = rc->top + (rc->bottom - rc->top - lineHeight) / 2;
    else if (format & DT_BOTTOM) y = rc->bottom - lineHeight;
  }
  POINT a = ToDevice(*dc, rc->left, rc->top), b = ToDevice(*dc, rc->right, rc->bottom);
  RECT dclip{a.x, a.y, b.x, b.y};
  const RECT* clip = (format & DT_NOCLIP) ? nullptr : &dclip;
  const LOGFONT* lf = dc->st.font ? &dc->st.font->lf : nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    int32_t ly = y + lineHeight * int32_t(i);
    if ((format & DT_EDITCONTROL) && i > 0 && ly + lineHeight > rc->bottom) break;
    int32_t w = LineWidth(f, lines[i], extra, tabs);
    int32_t x = rc->left;
    if (format & DT_CENTER) x = rc->left + (limit - w) / 2;
    else if (format & DT_RIGHT) x = rc->right - w;
    POINT p = ToDevice(*dc, x, ly);
    DrawUnits(*dc, f, lines[i], p.x, p.y, tabs, lf && lf->lfUnderline, lf && lf->lfStrikeOut, clip,
              nullptr);
  }
  return single && (format & (DT_VCENTER | DT_BOTTOM)) ? (y - rc->top) + total : total;
}

int DrawTextEx(HDC hdc, const std::string& text, RECT* rc, uint32_t format, const void*) {
  return DrawText(hdc, text, rc, format);
}

}  // namespace plat
