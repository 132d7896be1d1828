// Region shapes: the nose and bubble geometry, and the region a shape gives.
#include "components/kitregion.h"

#include "components/kitregionInternal.h"

namespace vexa {

using namespace kitregion;
using fw::TRect;
using plat::HRGN;
using plat::POINT;

namespace {

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

std::vector<POINT> kitregion::ShapeOutline(TKitRegionShape Shape, const TRect& R) {
  const int32_t L = R.Left, T = R.Top, Rt = R.Right, B = R.Bottom, w = Rt - L, h = B - T;
  switch (Shape) {
    case rsStar:
      return {{L + w / 2, T},
              {L + RoundEven(0.65 * w), T + RoundEven(0.38 * h)},
              {Rt, T + RoundEven(0.38 * h)},
              {L + RoundEven(0.7 * w), T + RoundEven(0.6 * h)},
              {L + RoundEven(0.85 * w), B},
              {L + w / 2, T + RoundEven(0.75 * h)},
              {L + RoundEven(0.15 * w), B},
              {L + RoundEven(0.3 * w), T + RoundEven(0.6 * h)},
              {L, T + RoundEven(0.38 * h)},
              {L + RoundEven(0.35 * w), T + RoundEven(0.38 * h)}};
    case rsDiamond: return {{L + w / 2, T}, {L, T + h / 2}, {L + w / 2, B}, {Rt, T + h / 2}};
    case rsOctagon:
      return {{L + (w / 3) * 2, T},  {L + w / 3, T}, {L, T + h / 3},
              {L, T + (h / 3) * 2},  {L + w / 3, B}, {L + (w / 3) * 2, B},
              {Rt, T + (h / 3) * 2}, {Rt, T + h / 3}};
    case rsComb:
      return {{L + w / 2, T}, {L, T + h / 4},        {L, T + (h / 4) * 3},
              {L + w / 2, B}, {Rt, T + (h / 4) * 3}, {Rt, T + h / 4}};
    default: return {};
  }
}

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
  auto* s = KitAssignSource(this, Source, [&] { TKitObject::Assign(Source); });
  if (!s) return;
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

TKitNose TKitRegion::Nose(const TRect& R) const {
  int32_t b = 5;
  if (FShape == rsRoundNoseRect)
    b = (FExtPos == epLeftTop || FExtPos == epRightTop || FExtPos == epRightBottom ||
         FExtPos == epLeftBottom)
            ? FRoundY
            : FRoundX;
  return KitNoseGeometry(R, (R.Right - R.Left) / 10, b, FExtPos);
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
      TKitNose n = Nose(r);
      rgn = round ? plat::CreateRoundRectRgn(n.Body.Left, n.Body.Top, n.Body.Right, n.Body.Bottom,
                                             FRoundX, FRoundY)
                  : plat::CreateRectRgn(n.Body.Left, n.Body.Top, n.Body.Right, n.Body.Bottom);
      Combine(rgn, plat::CreatePolygonRgn(n.Points, 3, plat::ALTERNATE), plat::RGN_OR);
      break;
    }
    case rsElliptic: rgn = plat::CreateEllipticRgn(L, T, R, B); break;
    case rsStar:
    case rsDiamond:
    case rsOctagon:
    case rsComb: {
      std::vector<POINT> v = ShapeOutline(FShape, r);
      rgn = plat::CreatePolygonRgn(v.data(), int(v.size()), plat::ALTERNATE);
      break;
    }
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
