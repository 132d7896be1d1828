#include "components/kitregion.h"

#include <cmath>

#include "components/KitApplication.h"
#include "components/kitshared.h"

namespace vexa {

using fw::TRect;
using plat::HRGN;
using plat::POINT;

namespace {

int32_t RoundEven(double v) { return int32_t(std::nearbyint(v)); }

// dst := dst op src, then src is deleted.
void Combine(HRGN dst, HRGN src, int mode) {
  plat::CombineRgn(dst, dst, src, mode);
  plat::DeleteObject(src);
}

HRGN Polygon(std::initializer_list<POINT> pts) {
  std::vector<POINT> v(pts);
  return plat::CreatePolygonRgn(v.data(), int(v.size()), plat::ALTERNATE);
}

// Rect moved in by A on the two sides that meet at the ExtPos corner.
TRect BodyOf(const TRect& R, int32_t A, TKitExtPos Pos) {
  TRect b = R;
  switch (Pos) {
    case epLeftTop:
    case epTopLeft: b.Left += A; b.Top += A; break;
    case epTopRight:
    case epRightTop: b.Right -= A; b.Top += A; break;
    case epRightBottom:
    case epBottomRight: b.Right -= A; b.Bottom -= A; break;
    case epBottomLeft:
    case epLeftBottom: b.Left += A; b.Bottom -= A; break;
  }
  return b;
}

HRGN ShieldCorners(HRGN rgn, int32_t w, int32_t h) {
  Combine(rgn, plat::CreateEllipticRgn((-w) / 2, (-h) / 5, w / 2, h / 5), plat::RGN_DIFF);
  Combine(rgn, plat::CreateEllipticRgn(w / 2, (-h) / 5, w + w / 2, h / 5), plat::RGN_DIFF);
  Combine(rgn, plat::CreateRectRgn(0, -40, w, 0), plat::RGN_DIFF);
  return rgn;
}

}  // namespace

TKitNose KitNoseGeometry(const TRect& Rect, int32_t A, int32_t B, TKitExtPos Pos) {
  TKitNose n;
  n.Body = BodyOf(Rect, A, Pos);
  const int32_t s = RoundEven(A * std::sqrt(2.0));
  const int32_t L = Rect.Left, T = Rect.Top, R = Rect.Right, Bm = Rect.Bottom;
  const int32_t bl = n.Body.Left, bt = n.Body.Top, br = n.Body.Right, bb = n.Body.Bottom;
  switch (Pos) {
    case epLeftTop:
      n.Points[0] = {L, T};
      n.Points[1] = {bl, bt + B};
      n.Points[2] = {bl, bt + B + s};
      break;
    case epTopLeft:
      n.Points[0] = {L, T};
      n.Points[1] = {bl + B, bt};
      n.Points[2] = {bl + B + s, bt};
      break;
    case epTopRight:
      n.Points[0] = {R, T};
      n.Points[1] = {br - B, bt};
      n.Points[2] = {br - B - s, bt};
      break;
    case epRightTop:
      n.Points[0] = {R, T};
      n.Points[1] = {br, bt + B};
      n.Points[2] = {br, bt + B + s};
      break;
    case epRightBottom:
      n.Points[0] = {R, Bm};
      n.Points[1] = {br, bb - B};
      n.Points[2] = {br, bb - B - s};
      break;
    case epBottomRight:
      n.Points[0] = {R, Bm};
      n.Points[1] = {br - B, bb};
      n.Points[2] = {br - B - s, bb};
      break;
    case epBottomLeft:
      n.Points[0] = {L, Bm};
      n.Points[1] = {bl + B, bb};
      n.Points[2] = {bl + B + s, bb};
      break;
    case epLeftBottom:
      n.Points[0] = {L, Bm};
      n.Points[1] = {bl, bb - B};
      n.Points[2] = {bl, bb - B - s};
      break;
  }
  return n;
}

std::vector<TKitBubble> KitBubbleChain(const TRect& Rect, int32_t a, int32_t n, TKitExtPos Pos,
                                       TRect& Body) {
  Body = BodyOf(Rect, a, Pos);
  const double BL = Body.Left, BT = Body.Top, BR = Body.Right, BB = Body.Bottom;
  const double e = (a * 2 * M_PI / 4 / n) / n;
  std::vector<TKitBubble> chain;
  for (int32_t k = 0; k <= n + 2; ++k) {
    const double g = k * (90.0 / (n + 1)) * M_PI / 180.0;
    const double q = 1.57 - g;
    TKitBubble c;
    c.Diameter = RoundEven(k * e);
    auto rc = [&](double v) { return RoundEven(a * v); };
    switch (Pos) {
      case epLeftTop:
        c.X = int32_t(BL) - rc(std::cos(g));
        c.Y = rc(std::sin(g)) + int32_t(BT) - a;
        break;
      case epTopLeft:
        c.X = rc(std::cos(q)) + int32_t(BL) - a;
        c.Y = int32_t(BT) - rc(std::sin(q));
        break;
      case epTopRight:
        c.X = a + int32_t(BR) - rc(std::cos(q));
        c.Y = int32_t(BT) - rc(std::sin(g + 1.57));
        break;
      case epRightTop:
        c.X = rc(std::cos(g)) + int32_t(BR);
        c.Y = rc(std::sin(g)) + int32_t(BT) - a;
        break;
      case epRightBottom:
        c.X = rc(std::cos(g)) + int32_t(BR);
        c.Y = a + int32_t(BB) - rc(std::sin(g));
        break;
      case epBottomRight:
        c.X = a + int32_t(BR) - rc(std::cos(q));
        c.Y = rc(std::sin(q)) + int32_t(BB);
        break;
      case epBottomLeft:
        c.X = rc(std::cos(q)) + int32_t(BL) - a;
        c.Y = rc(std::sin(q)) + int32_t(BB);
        break;
      case epLeftBottom:
        c.X = int32_t(BL) - rc(std::cos(g));
        c.Y = a + int32_t(BB) - rc(std::sin(g));
        break;
    }
    chain.push_back(c);
  }
  return chain;
}

// ---------------------------------------------------------------------------

void TKitRegionBorder::Assign(fw::TPersistent* Source) {
  auto* s = dynamic_cast<TKitRegionBorder*>(Source);
  if (!s) {
    TKitObject::Assign(Source);
    return;
  }
  FStyle = s->FStyle;
  FLightColor = s->FLightColor;
  FShadowColor = s->FShadowColor;
  FSingleColor = s->FSingleColor;
  SubObjectChanged(nullptr);
}

// ---------------------------------------------------------------------------

TKitRegion::TKitRegion()
    : FBorder(std::make_unique<TKitRegionBorder>()),
      FMask(std::make_unique<TKitRegionMask>()),
      FShadow(std::make_unique<TKitRgnShadow>()),
      FPoints(std::make_unique<TKitPointList>()) {
  auto changed = [this](fw::TObject* S) { SubObjectChanged(S); };
  FBorder->OnChange = changed;
  FMask->OnChange = changed;
  FShadow->OnChange = changed;
  FPoints->OnChange = [this](fw::TObject*) { RebuildFromPoints(); };
}

TKitRegion::~TKitRegion() {
  FPoints->OnChange = nullptr;
  FPoints.reset();
  if (FRegionHandle) plat::DeleteObject(FRegionHandle);
  FUserData.clear();
  FOwnerControl = nullptr;
  FShadow->OnChange = nullptr;
  FMask->OnChange = nullptr;
  FBorder->OnChange = nullptr;
}

void TKitRegion::Assign(fw::TPersistent* Source) {
  auto* s = dynamic_cast<TKitRegion*>(Source);
  if (!s) {
    TKitObject::Assign(Source);
    return;
  }
  if (s == this) return;
  BeginUpdate();
  FShape = s->FShape;
  FRoundX = s->FRoundX;
  FRoundY = s->FRoundY;
  FShadow->Assign(s->FShadow.get());
  FExtPos = s->FExtPos;
  FBorder->Assign(s->FBorder.get());
  FMask->Assign(s->FMask.get());
  EndUpdate(false);
  SubObjectChanged(nullptr);
}

void TKitRegion::SetShape(TKitRegionShape Value) {
  if (FShape == Value) return;
  FShape = Value;
  if (Value == rsPointList) RebuildFromPoints();
  SubObjectChanged(nullptr);
}

void TKitRegion::SetExtPos(TKitExtPos Value) {
  if (FExtPos == Value) return;
  FExtPos = Value;
  SubObjectChanged(nullptr);
}

void TKitRegion::SetRound(int32_t& Field, int32_t Value) {
  if (Field == Value) return;
  Field = Value;
  if (FShape == rsRoundRect || FShape == rsRoundNoseRect || FShape == rsRoundThinkBubble)
    SubObjectChanged(nullptr);
}

bool TKitRegion::OwnerDestroying() const {
  return FOwnerControl && FOwnerControl->ComponentState().Contains(fw::csDestroying);
}

bool TKitRegion::OwnerDesigning() const {
  return FOwnerControl && FOwnerControl->ComponentState().Contains(fw::csDesigning);
}

void TKitRegion::SetRectRegion(const TRect& Rect) {
  if (OwnerDestroying()) return;
  if (FRegionHandle) plat::DeleteObject(FRegionHandle);
  FRegionHandle = plat::CreateRectRgn(Rect.Left, Rect.Top, Rect.Right, Rect.Bottom);
}

void TKitRegion::StoreUserRegion(HRGN Region) {
  FUserData.clear();
  uint32_t n = plat::GetRegionData(Region, 0, nullptr);
  if (n == 0) return;
  FUserData.resize(n);
  plat::GetRegionData(Region, n, FUserData.data());
}

HRGN TKitRegion::UserRegion() const {
  if (FUserData.empty()) return 0;
  return plat::ExtCreateRegion(nullptr, uint32_t(FUserData.size()), FUserData.data());
}

void TKitRegion::RebuildFromPoints() {
  if (!FPoints || FPoints->Count() == 0) return;
  if (FShape != rsPointList) return;
  std::vector<POINT> pts(size_t(FPoints->Count()));
  for (int i = 0; i < FPoints->Count(); ++i) {
    fw::TPoint p;
    FPoints->GetPoint(i, p);
    pts[size_t(i)] = POINT{p.X, p.Y};
  }
  HRGN rgn = plat::CreatePolygonRgn(pts.data(), int(pts.size()), plat::ALTERNATE);
  StoreUserRegion(rgn);
  plat::DeleteObject(rgn);
}

void TKitRegion::DefineProperties(TKitFiler* Filer) {
  TKitObject::DefineProperties(Filer);
  Filer->DefineProperty(
      "PointList",
      [this](TKitReader* Reader) {
        Reader->ReadListBegin();
        while (!Reader->EndOfList()) {
          int32_t x = Reader->ReadInteger();
          int32_t y = Reader->ReadInteger();
          FPoints->AddPoint(fw::TPoint{x, y});
        }
        Reader->ReadListEnd();
      },
      [this](TKitWriter* Writer) {
        Writer->WriteListBegin();
        for (int i = 0; i < FPoints->Count(); ++i) {
          fw::TPoint p;
          FPoints->GetPoint(i, p);
          Writer->WriteInteger(p.X);
          Writer->WriteInteger(p.Y);
        }
        Writer->WriteListEnd();
      },
      FPoints->Count() > 0);
}

void TKitRegion::BuildRegion(const TRect& Rect) {
  if (OwnerDestroying()) return;
  if (FRegionHandle) plat::DeleteObject(FRegionHandle);
  FRegionHandle = 0;
  TRect r = Rect;
  if (FShadow->Style() != hssNone) {
    r.Right -= FShadow->Depth();
    r.Bottom -= FShadow->Depth();
  }
  const int32_t L = r.Left, T = r.Top, R = r.Right, B = r.Bottom, w = R - L, h = B - T;
  HRGN rgn = 0;
  switch (FShape) {
    case rsRect: rgn = plat::CreateRectRgn(L, T, R, B); break;
    case rsRoundRect: rgn = plat::CreateRoundRectRgn(L, T, R, B, FRoundX, FRoundY); break;
    case rsBitmap:
      if (FMask->RegionDataSize() != 0 &&
          FMask->RegionData().size() >= size_t(std::max(0, FMask->RegionDataSize())))
        rgn = plat::ExtCreateRegion(nullptr, uint32_t(FMask->RegionDataSize()),
                                    FMask->RegionData().data());
      break;
    case rsNoseRect:
    case rsRoundNoseRect: {
      const bool round = FShape == rsRoundNoseRect;
      int32_t b = 5;
      if (round)
        b = (FExtPos == epLeftTop || FExtPos == epRightTop || FExtPos == epRightBottom ||
             FExtPos == epLeftBottom)
                ? FRoundY
                : FRoundX;
      TKitNose n = KitNoseGeometry(r, w / 10, b, FExtPos);
      rgn = round ? plat::CreateRoundRectRgn(n.Body.Left, n.Body.Top, n.Body.Right, n.Body.Bottom,
                                             FRoundX, FRoundY)
                  : plat::CreateRectRgn(n.Body.Left, n.Body.Top, n.Body.Right, n.Body.Bottom);
      Combine(rgn, plat::CreatePolygonRgn(n.Points, 3, plat::ALTERNATE), plat::RGN_OR);
      break;
    }
    case rsElliptic: rgn = plat::CreateEllipticRgn(L, T, R, B); break;
    case rsStar:
      rgn = Polygon({{L + w / 2, T},
                     {L + RoundEven(0.65 * w), T + RoundEven(0.38 * h)},
                     {R, T + RoundEven(0.38 * h)},
                     {L + RoundEven(0.7 * w), T + RoundEven(0.6 * h)},
                     {L + RoundEven(0.85 * w), B},
                     {L + w / 2, T + RoundEven(0.75 * h)},
                     {L + RoundEven(0.15 * w), B},
                     {L + RoundEven(0.3 * w), T + RoundEven(0.6 * h)},
                     {L, T + RoundEven(0.38 * h)},
                     {L + RoundEven(0.35 * w), T + RoundEven(0.38 * h)}});
      break;
    case rsRoundShield:
      rgn = ShieldCorners(plat::CreateEllipticRgn(0, h / 5 - h, w, h), w, h);
      break;
    case rsSharpShield: {
      const int32_t k = (8 * h) / 7;
      rgn = plat::CreateEllipticRgn(-w, -k, w, k);
      Combine(rgn, plat::CreateEllipticRgn(0, -k, 2 * w, k), plat::RGN_AND);
      rgn = ShieldCorners(rgn, w, h);
      break;
    }
    case rsDiamond:
      rgn = Polygon({{L + w / 2, T}, {L, T + h / 2}, {L + w / 2, B}, {R, T + h / 2}});
      break;
    case rsOctagon:
      rgn = Polygon({{L + (w / 3) * 2, T}, {L + w / 3, T}, {L, T + h / 3}, {L, T + (h / 3) * 2},
                     {L + w / 3, B}, {L + (w / 3) * 2, B}, {R, T + (h / 3) * 2}, {R, T + h / 3}});
      break;
    case rsComb:
      rgn = Polygon({{L + w / 2, T}, {L, T + h / 4}, {L, T + (h / 4) * 3}, {L + w / 2, B},
                     {R, T + (h / 4) * 3}, {R, T + h / 4}});
      break;
    case rsHalfRound: rgn = plat::CreateEllipticRgn(L, 2 * T - B, R, B); break;
    case rsUserRegion:
      rgn = OwnerDesigning() ? plat::CreateRectRgn(L, T, R, B) : UserRegion();
      break;
    case rsThinkBubble:
    case rsRoundThinkBubble:
    case rsEllipticThinkBubble: {
      TRect body;
      std::vector<TKitBubble> chain = KitBubbleChain(r, w / 6, BubbleCount, FExtPos, body);
      HRGN links = plat::CreateRectRgn(0, 0, 1, 1);
      for (const TKitBubble& c : chain) {
        const int32_t rad = c.Diameter / 2;
        Combine(links, plat::CreateEllipticRgn(c.X - rad, c.Y - rad, c.X + rad, c.Y + rad),
                plat::RGN_OR);
      }
      if (FShape == rsThinkBubble)
        rgn = plat::CreateRectRgn(body.Left, body.Top, body.Right, body.Bottom);
      else if (FShape == rsRoundThinkBubble)
        rgn = plat::CreateRoundRectRgn(body.Left, body.Top, body.Right, body.Bottom, FRoundX,
                                       FRoundY);
      else
        rgn = plat::CreateEllipticRgn(body.Left, body.Top, body.Right, body.Bottom);
      Combine(rgn, links, plat::RGN_OR);
      break;
    }
    case rsPointList: rgn = UserRegion(); break;
  }
  FRegionHandle = rgn;
}

}  // namespace vexa

// ---------------------------------------------------------------------------
// Border and shadow painting

namespace vexa {

using fw::TCanvas;
using fw::TColor;

namespace {

enum TPart { ptLight, ptShadow, ptSingle, ptInner };

class TBorderPainter {
public:
  TCanvas* C;
  TKitRegionBorderStyle Style;
  TColor Light, Shadow, Single;
  int32_t RX, RY;

  // The common scheme of every outline shape.
  void Paint(TKitRegionShape Shape, TRect R) {
    TColor light = Light, shadow = Shadow, single = Single;
    if (Style == rbLowered || Style == rbSingleLowered || Style == rbLoweredpsb)
      std::swap(light, shadow);
    auto twoColour = [&](const TRect& r) {
      Pen(light);
      Part(Shape, r, ptLight);
      Pen(shadow);
      Part(Shape, r, ptShadow);
    };
    switch (Style) {
      case rbNone: break;
      case rbLowered:
      case rbRaised: twoColour(R); break;
      case rbSingle:
        Pen(single);
        Part(Shape, R, ptSingle);
        break;
      case rbSingleRaised:
      case rbSingleLowered:
        Pen(single);
        Part(Shape, R, ptSingle);
        twoColour(Inset(Shape, R));
        break;
      case rbRaisedpsb:
      case rbLoweredpsb:
        std::swap(single, shadow);
        twoColour(R);
        Pen(shadow);
        Part(Shape, Inset(Shape, R), ptInner);
        break;
    }
  }

private:
  void Pen(TColor Color) {
    C->Pen()->SetStyle(fw::psSolid);
    C->Pen()->SetColor(Color);
  }
  void Line(const POINT& A, const POINT& B) {
    C->MoveTo(A.x, A.y);
    C->LineTo(B.x, B.y);
  }
  void Segments(const std::vector<POINT>& P, std::initializer_list<std::pair<int, int>> S) {
    for (auto [a, b] : S) Line(P[size_t(a - 1)], P[size_t(b - 1)]);
  }
  void Closed(const std::vector<POINT>& P) {
    std::vector<fw::TPoint> v;
    for (const POINT& p : P) v.push_back(fw::TPoint{p.x, p.y});
    C->Brush()->SetStyle(fw::bsClear);
    C->Polygon(v);
  }
  TRect Inset(TKitRegionShape Shape, TRect R) const {
    int32_t d = 1;
    if (Shape == rsStar) d = (Style == rbRaisedpsb || Style == rbLoweredpsb) ? 3 : 2;
    R = TRect{R.Left + d, R.Top + d, R.Right - d, R.Bottom - d};
    if (Shape == rsRoundRect) {
      R.Right -= 2;
      R.Bottom -= 2;
    }
    return R;
  }

  void RoundRectShadow(const TRect& R) {
    const int32_t L = R.Left, T = R.Top, Rt = R.Right, B = R.Bottom, W = RX, H = RY;
    C->Pen()->SetWidth(4);
    C->Arc(L, B - H, L + W, B, L, B, L + W / 2, B);
    C->MoveTo(L + W / 2, B);
    C->LineTo(Rt - W / 2, B);
    C->Arc(Rt - W, B - H, Rt, B, Rt - W / 2, B, Rt, B - H / 2);
    C->MoveTo(Rt, B - H / 2);
    C->LineTo(Rt, T + H / 2);
    C->Arc(Rt - W, T, Rt, T + H, Rt, T + H / 2, Rt, T);
  }

  void Part(TKitRegionShape Shape, const TRect& R, TPart P) {
    const int32_t L = R.Left, T = R.Top, Rt = R.Right, B = R.Bottom, w = Rt - L, h = B - T;
    C->Brush()->SetStyle(fw::bsClear);
    switch (Shape) {
      case rsRect:
        if (P == ptLight) C->Polyline({{Rt, T}, {L, T}, {L, B}});
        else if (P == ptSingle) C->Rectangle(L, T, Rt, B);
        else C->Polyline({{L, B}, {Rt, B}, {Rt, T}});
        break;
      case rsElliptic:
        if (P == ptLight) C->Arc(L, T, Rt, B, Rt, T, L, B);
        else if (P == ptSingle) C->Ellipse(L, T, Rt, B);
        else C->Arc(L, T, Rt, B, L, B, Rt, T);
        break;
      case rsRoundRect:
        if (P == ptLight || P == ptSingle) C->RoundRect(L, T, Rt, B, RX, RY);
        else RoundRectShadow(R);
        break;
      case rsHalfRound:
        if (P == ptLight) C->Arc(L, 2 * T - B, Rt, B, Rt, T, L, B);
        else if (P == ptSingle) C->Ellipse(L, 2 * T - B, Rt, B);
        else C->Arc(L, 2 * T - B, Rt, B, L, B, Rt, T);
        break;
      case rsStar: {
        std::vector<POINT> s = {{L + w / 2, T},
                                {L + RoundEven(0.65 * w), T + RoundEven(0.38 * h)},
                                {Rt, T + RoundEven(0.38 * h)},
                                {L + RoundEven(0.7 * w), T + RoundEven(0.6 * h)},
                                {L + RoundEven(0.85 * w), B},
                                {L + w / 2, T + RoundEven(0.75 * h)},
                                {L + RoundEven(0.15 * w), B},
                                {L + RoundEven(0.3 * w), T + RoundEven(0.6 * h)},
                                {L, T + RoundEven(0.38 * h)},
                                {L + RoundEven(0.35 * w), T + RoundEven(0.38 * h)}};
        if (P == ptLight) Segments(s, {{2, 3}, {4, 5}, {7, 8}, {9, 10}, {10, 1}});
        else if (P == ptSingle) Closed(s);
        else Segments(s, {{1, 2}, {3, 4}, {5, 6}, {6, 7}, {8, 9}});
        break;
      }
      case rsDiamond: {
        std::vector<POINT> s = {{L + w / 2, T}, {L, T + h / 2}, {L + w / 2, B}, {Rt, T + h / 2}};
        if (P == ptLight) Segments(s, {{4, 1}, {1, 2}});
        else if (P == ptShadow) Segments(s, {{2, 3}, {3, 4}});
        else if (P == ptInner) Segments(s, {{3, 4}, {4, 1}});
        else Closed(s);
        break;
      }
      case rsOctagon: {
        std::vector<POINT> s = {{L + (w / 3) * 2, T}, {L + w / 3, T},      {L, T + h / 3},
                                {L, T + (h / 3) * 2}, {L + w / 3, B},      {L + (w / 3) * 2, B},
                                {Rt, T + (h / 3) * 2}, {Rt, T + h / 3}};
        if (P == ptLight) Segments(s, {{8, 1}, {1, 2}, {2, 3}, {3, 4}});
        else if (P == ptSingle) Closed(s);
        else Segments(s, {{4, 5}, {5, 6}, {6, 7}, {7, 8}});
        break;
      }
      case rsComb: {
        std::vector<POINT> s = {{L + w / 2, T}, {L, T + h / 4}, {L, T + (h / 4) * 3},
                                {L + w / 2, B}, {Rt, T + (h / 4) * 3}, {Rt, T + h / 4}};
        if (P == ptLight) Segments(s, {{6, 1}, {1, 2}, {2, 3}});
        else if (P == ptSingle) Closed(s);
        else Segments(s, {{3, 4}, {4, 5}, {5, 6}});
        break;
      }
      case rsRoundShield:
      case rsSharpShield: {
        const int32_t c = h / 5, k = (8 * h) / 7;
        auto N1 = [&] { C->Arc(L - w / 2, T - c, L + w / 2, T + c, L, T + c, L + w / 2, T); };
        auto N2 = [&] {
          C->Arc(L + w / 2, T - c, L + w + w / 2, T + c, L + w / 2, T, L + w, T + c);
        };
        if (Shape == rsRoundShield) {
          const int32_t e0 = L, e1 = T + c - h, e2 = L + w, e3 = T + h;
          auto C1 = [&] { C->Arc(e0, e1, e2, e3, L, T + c, L + w / 2, T + h); };
          auto C2 = [&] { C->Arc(e0, e1, e2, e3, L + w / 2, T + h, L + w, T + c); };
          if (P == ptLight) { N1(); N2(); }
          else if (P == ptShadow) { C1(); C2(); }
          else if (P == ptInner) { N2(); C2(); }
          else { N1(); N2(); C->Arc(e0, e1, e2, e3, L, T + c, L + w, T + c); }
        } else {
          auto F1 = [&] { C->Arc(L - w, T - k, L + w, T + k, L + w / 2, T + h, L + w, T + c); };
          auto F2 = [&] { C->Arc(L, T - k, L + 2 * w, T + k, L, T + c, L + w / 2, T + h); };
          if (P == ptLight) { N1(); N2(); }
          else if (P == ptShadow) { F2(); F1(); }
          else if (P == ptInner) { F1(); N2(); }
          else { F1(); F2(); N1(); N2(); }
        }
        break;
      }
      default: break;
    }
  }
};

}  // namespace

void TKitRegion::PaintShadow(TCanvas* Canvas, TRect& Rect) {
  if (FShadow->Style() == hssNone) return;
  const int32_t D = FShadow->Depth();
  if (FRegionHandle) {
    HRGN band = plat::CreateRectRgn(0, 0, 0, 0);
    plat::CombineRgn(band, FRegionHandle, 0, plat::RGN_COPY);
    plat::OffsetRgn(band, D, D);
    plat::CombineRgn(band, band, FRegionHandle, plat::RGN_DIFF);
    plat::HDC dc = Canvas->Handle();
    Canvas->Pen()->SetStyle(fw::psClear);
    int mode = plat::R2_COPYPEN;
    if (FShadow->Style() == hssSolid) {
      Canvas->Brush()->SetStyle(fw::bsSolid);
      Canvas->Brush()->SetColor(FShadow->Color());
    } else {
      Canvas->Brush()->SetBitmap(KitApplication->GetDitherBitmap(FShadow->Color()));
      Canvas->Pen()->SetMode(fw::pmMask);
      mode = plat::R2_MASKPEN;
    }
    int old = plat::SetROP2(dc, mode);
    plat::FillRgn(dc, band, Canvas->Brush()->Handle());
    plat::SetROP2(dc, old);
    plat::DeleteObject(band);
    Canvas->Brush()->SetBitmap(nullptr);
    Canvas->Brush()->SetStyle(fw::bsClear);
    Canvas->Pen()->SetMode(fw::pmCopy);
    Canvas->Pen()->SetStyle(fw::psSolid);
    plat::SetROP2(dc, plat::R2_COPYPEN);
  }
  Rect.Right -= D;
  Rect.Bottom -= D;
}

void TKitRegion::PaintBorder(TCanvas* Canvas, const TRect& ARect) {
  if (!Canvas) return;
  Canvas->Brush()->SetStyle(fw::bsClear);
  Canvas->Pen()->SetWidth(2);
  TRect R = ARect;
  PaintShadow(Canvas, R);
  TBorderPainter p{Canvas, FBorder->Style(), FBorder->LightColor(), FBorder->ShadowColor(),
                   FBorder->SingleColor(), FRoundX, FRoundY};
  const int32_t w = R.Right - R.Left;
  plat::HDC dc = Canvas->Handle();
  switch (FShape) {
    case rsBitmap:
    case rsUserRegion: break;
    case rsNoseRect:
    case rsRoundNoseRect: {
      const bool round = FShape == rsRoundNoseRect;
      int32_t b = 5;
      if (round)
        b = (FExtPos == epLeftTop || FExtPos == epRightTop || FExtPos == epRightBottom ||
             FExtPos == epLeftBottom)
                ? FRoundY
                : FRoundX;
      TKitNose n = KitNoseGeometry(R, w / 10, b, FExtPos);
      const int32_t g = round ? 4 : 2;
      const POINT& p2 = n.Points[1];
      const POINT& p3 = n.Points[2];
      plat::ExcludeClipRect(dc, std::min(p2.x, p3.x) - g, std::min(p2.y, p3.y) - g,
                            std::max(p2.x, p3.x) + g, std::max(p2.y, p3.y) + g);
      p.Paint(round ? rsRoundRect : rsRect, n.Body);
      break;
    }
    case rsThinkBubble:
    case rsRoundThinkBubble:
    case rsEllipticThinkBubble: {
      TRect body;
      for (const TKitBubble& c : KitBubbleChain(R, w / 6, BubbleCount, FExtPos, body)) {
        const int32_t rad = c.Diameter / 2;
        TRect sq{c.X - rad, c.Y - rad, c.X + rad, c.Y + rad};
        p.Paint(rsElliptic, sq);
        plat::ExcludeClipRect(dc, sq.Left, sq.Top, sq.Right, sq.Bottom);
      }
      p.Paint(FShape == rsThinkBubble ? rsRect : FShape == rsRoundThinkBubble ? rsRoundRect
                                                                               : rsElliptic,
              body);
      break;
    }
    case rsPointList: {
      if (!FPoints || FPoints->Count() == 0) break;
      TColor light = FBorder->LightColor(), shadow = FBorder->ShadowColor();
      const TKitRegionBorderStyle st = FBorder->Style();
      if (st == rbSingle) light = shadow = FBorder->SingleColor();
      else if (st == rbLowered || st == rbSingleLowered || st == rbLoweredpsb)
        std::swap(light, shadow);
      TColor colour = light;
      fw::TPoint first, prev, cur;
      FPoints->GetPoint(0, first);
      prev = first;
      Canvas->Pen()->SetStyle(fw::psSolid);
      Canvas->MoveTo(first.X, first.Y);
      for (int i = 1; i <= FPoints->Count(); ++i) {
        if (i < FPoints->Count()) FPoints->GetPoint(i, cur);
        else cur = first;
        if (cur.Y > prev.Y) colour = shadow;
        if (cur.Y < prev.Y) colour = light;
        if (cur.X < prev.X) colour = shadow;
        if (cur.X > prev.X) colour = light;
        Canvas->Pen()->SetColor(colour);
        Canvas->LineTo(cur.X, cur.Y);
        prev = cur;
      }
      break;
    }
    default: p.Paint(FShape, R); break;
  }
}

// ---------------------------------------------------------------------------
// Form shape

namespace {

constexpr plat::LRESULT HTCLIENT = 1;
constexpr plat::LRESULT HTCAPTION = 2;
constexpr plat::UINT WM_NCRBUTTONDOWN = 0x00A4;
constexpr plat::UINT WM_NCRBUTTONUP = 0x00A5;
constexpr plat::UINT WM_CAPTURECHANGED = 0x0215;

}  // namespace

TKitFormShape::TKitFormShape(fw::TComponent* AOwner)
    : TKitWndProcComponent(AOwner),
      FForm(dynamic_cast<fw::TCustomForm*>(AOwner)),
      FRegion(std::make_unique<TKitBorderRegion>()),
      FFillObject(std::make_unique<TKitFillObject>()),
      FBackBitmap(std::make_unique<fw::TBitmap>()),
      FChangeLink(std::make_unique<TKitChangeLink>()) {
  if (Designing() && CheckSingleInstance(AOwner, KitClassOf<TKitFormShape>, false))
    throw KitEOneInstError(ClassName(), 0);
  FRegion->SetOwnerControl(FForm);
  FRegion->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
  FFillObject->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
  FChangeLink->OnChange = [this](fw::TObject*) { ImageListChanged(); };
  // A form built in code is never loaded: the hook goes in at once.
  if (!ComponentState().Contains(fw::csLoading)) HookIfEnabled();
}

TKitFormShape::~TKitFormShape() {
  Unhook();
  FChangeLink->OnChange = nullptr;
  FChangeLink.reset();
  FBackBitmap.reset();
  FFillObject->OnChange = nullptr;
  FFillObject.reset();
  FRegion->OnChange = nullptr;
  FRegion->SetOwnerControl(nullptr);
  FRegion.reset();
}

void TKitFormShape::Loaded() {
  TKitWndProcComponent::Loaded();
  if (Enabled()) RebuildWindowRegion();
}

void TKitFormShape::SubObjectChanged(fw::TObject* Sender) {
  TKitWndProcComponent::SubObjectChanged(Sender);
  if (FRegion && FFillObject) RebuildWindowRegion();
}

void TKitFormShape::DefineProperties(TKitFiler* Filer) {
  TKitWndProcComponent::DefineProperties(Filer);
  Filer->DefineProperty(
      "Internal", [this](TKitReader* Reader) { SetImageList(ReadSharedListRef(Reader)); },
      [this](TKitWriter* Writer) { WriteSharedListRef(Writer, FImageList); },
      IsSharedList(FImageList));
}

void TKitFormShape::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitWndProcComponent::Notification(AComponent, Operation);
  if (Operation == fw::opRemove && AComponent && AComponent == FImageList) SetImageList(nullptr);
}

void TKitFormShape::SetShowFormCaption(bool Value) {
  if (FShowFormCaption == Value) return;
  FShowFormCaption = Value;
  RebuildWindowRegion();
}

void TKitFormShape::SetUseRgnBitmap(bool Value) {
  if (FUseRgnBitmap == Value) return;
  FUseRgnBitmap = Value;
  SubObjectChanged(this);
}

void TKitFormShape::SetImageList(TKitCustomImageList* Value) {
  // A list being freed has already let the link go.
  if (TKitBaseContainer* old = FChangeLink->Sender()) old->RemoveChangeLink(FChangeLink.get());
  FImageList = Value;
  if (Value) {
    Value->AddChangeLink(FChangeLink.get());
    Value->FreeNotification(this);
  }
  ImageListChanged();
}

bool TKitFormShape::HasFormBackground() const {
  return (FUseRgnBitmap && FRegion->Shape() == rsBitmap) ||
         (FFillObject->Style() != sfNone && !Designing());
}

fw::TBitmap* TKitFormShape::FormBackground() const {
  if (FUseRgnBitmap && FRegion->Shape() == rsBitmap) return FRegion->Mask()->BorderBitmap();
  if (FFillObject->Style() != sfNone) return FBackBitmap.get();
  return nullptr;
}

void TKitFormShape::RebuildWindowRegion() {
  if (ComponentState().Contains(fw::csLoading) || !FForm) return;
  const bool designing = Designing();
  const plat::HWND wnd = FForm->HandleAllocated() ? FForm->Handle() : 0;
  const bool minimised = wnd && plat::IsIconic(wnd);
  const fw::TFormBorderStyle bs = FForm->BorderStyle();
  int32_t fx, fy;
  if (bs == fw::bsSizeable || bs == fw::bsSizeToolWin) {
    fx = plat::GetSystemMetrics(plat::SM_CXFRAME);
    fy = plat::GetSystemMetrics(plat::SM_CYFRAME);
  } else {
    fx = plat::GetSystemMetrics(plat::SM_CXDLGFRAME);
    fy = plat::GetSystemMetrics(plat::SM_CYDLGFRAME);
  }
  int32_t caption = 0;
  if (bs == fw::bsSingle || bs == fw::bsSizeable || bs == fw::bsDialog)
    caption = plat::GetSystemMetrics(plat::SM_CYCAPTION);
  else if (bs == fw::bsToolWindow || bs == fw::bsSizeToolWin)
    caption = plat::GetSystemMetrics(plat::SM_CYSMCAPTION);
  if (bs == fw::bsNone && !designing) fx = fy = 0;

  const int32_t depth = FRegion->Shadow()->Depth();
  if (!minimised && FRegion->Shape() == rsBitmap) {
    fw::TBitmap* pic = FRegion->Mask()->BorderBitmap();
    FForm->SetBounds(FForm->Left(), FForm->Top(), pic->Width() + depth + 2 * fx,
                     pic->Height() + caption + 2 * fy + depth);
  }
  const int32_t W = FForm->Width(), H = FForm->Height();
  const TRect shape{-1, -1, W - 2 * fx + 1, H - 2 * fy - caption + 1};

  HRGN work = plat::CreateRectRgn(0, 0, 0, 0);
  if (minimised) {
    FRegion->SetRectRegion(TRect{0, 0, W, caption + fy});
    if (FRegion->RegionHandle()) plat::CombineRgn(work, FRegion->RegionHandle(), 0, plat::RGN_COPY);
  } else {
    FRegion->BuildRegion(shape);
    if (FRegion->RegionHandle()) plat::CombineRgn(work, FRegion->RegionHandle(), 0, plat::RGN_COPY);
    plat::OffsetRgn(work, fx, caption + fy);
    if (FRegion->Shadow()->Style() != hssNone) {
      HRGN shadow = plat::CreateRectRgn(0, 0, 0, 0);
      plat::CombineRgn(shadow, work, 0, plat::RGN_COPY);
      plat::OffsetRgn(shadow, depth, depth);
      Combine(work, shadow, plat::RGN_OR);
    }
    HRGN strip = plat::CreateRectRgn(0, 0, W, caption + fy);
    const bool keep = (FShowFormCaption && bs != fw::bsNone) || designing;
    Combine(work, strip, keep ? plat::RGN_OR : plat::RGN_DIFF);
  }
  if (!designing && wnd) {
    plat::SetWindowRgn(wnd, 0, false);
    HRGN handed = plat::CreateRectRgn(0, 0, 0, 0);
    plat::CombineRgn(handed, work, 0, plat::RGN_COPY);
    plat::SetWindowRgn(wnd, handed, true);  // the window owns it now
  }
  plat::DeleteObject(work);
  FCaptionHeight = caption;
}

void TKitFormShape::PaintFormBackground(plat::HDC DC) {
  if (!FForm) return;
  plat::HWND wnd = FForm->HandleAllocated() ? FForm->Handle() : 0;
  plat::HDC own = 0;
  if (!DC) {
    if (!wnd) return;
    DC = own = plat::GetDC(wnd);
  }
  struct Release {
    plat::HWND W;
    plat::HDC D;
    ~Release() {
      if (D) plat::ReleaseDC(W, D);
    }
  } release{wnd, own};
  fw::TCanvas canvas;
  canvas.SetHandle(DC);
  struct Detach {
    fw::TCanvas& C;
    ~Detach() { C.SetHandle(0); }
  } detach{canvas};
  const TRect rect{0, 0, FForm->ClientWidth(), FForm->ClientHeight()};
  const bool designing = Designing();
  if (FUseRgnBitmap && FRegion->Shape() == rsBitmap) {
    TKitRegionMask* mask = FRegion->Mask();
    if (designing) {
      if (mask->RegionDataSize() > 0 &&
          mask->RegionData().size() >= size_t(mask->RegionDataSize())) {
        HRGN rgn = plat::ExtCreateRegion(nullptr, uint32_t(mask->RegionDataSize()),
                                         mask->RegionData().data());
        if (rgn) {
          plat::OffsetRgn(rgn, 0, -canvas.ClipRect().Top);
          plat::FrameRgn(DC, rgn, canvas.Brush()->Handle(), 1, 1);
          plat::DeleteObject(rgn);
        }
      }
    } else {
      canvas.Draw(0, 0, mask->BorderBitmap());
    }
  } else if (FFillObject->Style() != sfNone) {
    FBackBitmap->SetSize(rect.Width(), rect.Height());
    if (FFillObject->Style() == sfBitmapList && FImageList &&
        FImageList->IsValidImage(FListIndex, FImageIndex))
      FImageList->CopyImageToBitmap(FListIndex, FImageIndex, FFillObject->ListBitmap());
    if (!FBackBitmap->Empty()) {
      FFillObject->FillArea(FBackBitmap->Canvas(), rect, fw::clWhite);
      if (!designing) canvas.Draw(0, 0, FBackBitmap.get());
    }
  }
  FRegion->PaintBorder(&canvas, rect);
}

void TKitFormShape::HookWndProc(fw::TMessage& M) {
  switch (M.Msg) {
    case plat::WM_SIZE:
      // The form keeps its bounds in step with the window through this
      // message, so it goes on first; the region is then built for the new size.
      TKitWndProcComponent::HookWndProc(M);
      RebuildWindowRegion();
      if (FForm && FForm->HandleAllocated()) plat::InvalidateRect(FForm->Handle(), nullptr, true);
      M.Result = 0;
      break;
    case plat::WM_ERASEBKGND:
      if (FFillObject->Style() == sfNone && FRegion->Shape() != rsBitmap)
        TKitWndProcComponent::HookWndProc(M);
      PaintFormBackground(plat::HDC(uint32_t(M.WParam)));
      M.Result = 1;
      break;
    case plat::WM_NCHITTEST:
      TKitWndProcComponent::HookWndProc(M);
      if (FFormDragable && M.Result == HTCLIENT && !FRightButton && FForm) {
        fw::TPoint screen{int16_t(uint32_t(M.LParam) & 0xFFFF), int16_t(uint32_t(M.LParam) >> 16)};
        fw::TPoint p = FForm->ScreenToClient(screen);
        bool onControl = false;
        for (int i = 0; i < FForm->ControlCount() && !onControl; ++i) {
          fw::TControl* c = FForm->Controls(i);
          if (!c || dynamic_cast<fw::TWinControl*>(c) || !c->Enabled() || !c->Visible()) continue;
          TRect b = c->BoundsRect();
          onControl = p.X >= b.Left && p.X < b.Right && p.Y >= b.Top && p.Y < b.Bottom;
        }
        if (!onControl) M.Result = HTCAPTION;
      }
      break;
    case WM_NCRBUTTONDOWN:
      TKitWndProcComponent::HookWndProc(M);
      FRightButton = true;
      break;
    case WM_NCRBUTTONUP:
    case WM_CAPTURECHANGED:
      TKitWndProcComponent::HookWndProc(M);
      FRightButton = false;
      break;
    default: TKitWndProcComponent::HookWndProc(M); break;
  }
}

}  // namespace vexa
