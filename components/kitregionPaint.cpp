// Region borders and shadows painted on a canvas.
#include "components/kitregion.h"

#include "components/KitApplication.h"
#include "components/kitregionInternal.h"

namespace vexa {

using namespace kitregion;
using fw::TCanvas;
using fw::TColor;
using fw::TRect;
using plat::POINT;

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
        std::vector<POINT> s = ShapeOutline(Shape, R);
        if (P == ptLight) Segments(s, {{2, 3}, {4, 5}, {7, 8}, {9, 10}, {10, 1}});
        else if (P == ptSingle) Closed(s);
        else Segments(s, {{1, 2}, {3, 4}, {5, 6}, {6, 7}, {8, 9}});
        break;
      }
      case rsDiamond: {
        std::vector<POINT> s = ShapeOutline(Shape, R);
        if (P == ptLight) Segments(s, {{4, 1}, {1, 2}});
        else if (P == ptShadow) Segments(s, {{2, 3}, {3, 4}});
        else if (P == ptInner) Segments(s, {{3, 4}, {4, 1}});
        else Closed(s);
        break;
      }
      case rsOctagon: {
        std::vector<POINT> s = ShapeOutline(Shape, R);
        if (P == ptLight) Segments(s, {{8, 1}, {1, 2}, {2, 3}, {3, 4}});
        else if (P == ptSingle) Closed(s);
        else Segments(s, {{4, 5}, {5, 6}, {6, 7}, {7, 8}});
        break;
      }
      case rsComb: {
        std::vector<POINT> s = ShapeOutline(Shape, R);
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
      TKitNose n = Nose(R);
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

}  // namespace vexa
