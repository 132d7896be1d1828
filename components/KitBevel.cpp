#include "components/KitBevel.h"

namespace vexa {

using fw::TRect;

void TKitBevel::SetStyle(TKitBevelStyle& Field, TKitBevelStyle& Other, TKitBevelStyle Value) {
  if (Field == Value) return;
  // A shadow is drawn by both styles together: keep them in step.
  if (Field == bvShadow) Other = bvNone;
  if (Value == bvShadow) Other = bvShadow;
  Field = Value;
  NotifyChange();
}

void TKitBevel::SetColor(int Index, fw::TColor Value) {
  if (FColors[Index] == Value) return;
  FColors[Index] = Value;
  NotifyChange();
}

void TKitBevel::SetMode(TKitBevelMode Value) {
  if (FMode == Value) return;
  if (FWindowBorderSupport && (FMode == bmWindows || Value == bmWindows)) FRecreateNeeded = true;
  FMode = Value;
  NotifyChange();
}

void TKitBevel::SetStandardStyle(TKitBorderStyle Value) {
  if (FStandardStyle == Value) return;
  FStandardStyle = Value;
  if (FMode == bmStandard) NotifyChange();
}

void TKitBevel::Assign(fw::TPersistent* Source) {
  if (auto* b = dynamic_cast<TKitBevel*>(Source)) {
    if (b == this) return;
    FStyleInner = b->FStyleInner;
    FStyleOuter = b->FStyleOuter;
    FWidthInner = b->FWidthInner;
    FWidthOuter = b->FWidthOuter;
    FBorderSides = b->FBorderSides;
    FBorderInnerWidth = b->FBorderInnerWidth;
    FBorderWidth = b->FBorderWidth;
    for (int i = 0; i < 3; ++i) FColors[i] = b->FColors[i];
    FMode = b->FMode;
    FStandardStyle = b->FStandardStyle;
    FEdgeStyle = b->FEdgeStyle;
    FWindowBorderSupport = b->FWindowBorderSupport;
    NotifyChange();
    return;
  }
  TKitObject::Assign(Source);
}

void TKitBevel::CalcExtent() {
  int32_t e = 0;
  switch (FMode) {
    case bmCustom:
      if (FStyleInner == bvShadow) {
        e = FWidthInner + FBorderInnerWidth;
      } else {
        e = FBorderWidth + FBorderInnerWidth;
        if (FStyleOuter != bvNone) e += FWidthOuter;
        if (FStyleOuter == bvFrameLowered || FStyleOuter == bvFrameRaised) e += 1;
        if (FStyleInner != bvNone) e += FWidthInner;
        if (FStyleInner == bvFrameLowered || FStyleInner == bvFrameRaised) e += 1;
      }
      break;
    case bmStandard: e = KitBorderStyleWidth(FStandardStyle) + FBorderInnerWidth; break;
    case bmEdge: e = (FBorderSides.Empty() ? 0 : 2) + FBorderInnerWidth; break;
    case bmWindows: e = FWindowBorderSupport ? 0 : FBorderInnerWidth + 2; break;
  }
  FExtent = e;
  FExtentRightBottom = e;
  if (FMode == bmCustom && FStyleOuter == bvShadow) {
    FExtentRightBottom = FWidthInner + FWidthOuter + FBorderInnerWidth;
  }
}

void TKitBevel::NotifyChange() {
  CalcExtent();
  TKitObject::NotifyChange();
}

void TKitBevel::GetDisplayString(std::string& Text) {
  static const char* const kModes[4] = {"Custom style", "Standard style", "Etged style",
                                        "Windows style"};
  Text = std::string("{") + kModes[FMode] + "}";
}

bool TKitBevel::TakeRecreateNeeded() {
  bool r = FRecreateNeeded || (FMode == bmWindows && FWindowBorderSupport);
  FRecreateNeeded = false;
  return r;
}

TRect TKitBevel::InnerRect(const TRect& Rect) const {
  TRect r = Rect;
  if (FMode == bmCustom && FStyleOuter == bvShadow) {
    int32_t lt = FWidthInner + FBorderInnerWidth;
    int32_t rb = FWidthInner + FWidthOuter + FBorderInnerWidth;
    r.Left += lt;
    r.Top += lt;
    r.Right -= rb;
    r.Bottom -= rb;
    return r;
  }
  r.Left += FExtent;
  r.Top += FExtent;
  r.Right -= FExtent;
  r.Bottom -= FExtent;
  return r;
}

void TKitBevel::PaintBand(fw::TCanvas* Canvas, TRect& R, int Width, bool Skip) {
  if (Width <= 0) return;
  if (Skip) {
    R.Left += Width;
    R.Top += Width;
    R.Right -= Width;
    R.Bottom -= Width;
    return;
  }
  Canvas->Brush()->SetColor(FColors[0]);
  Canvas->Brush()->SetStyle(fw::bsSolid);
  for (int i = 0; i < Width; ++i) {
    Canvas->FrameRect(R);
    R.Left += 1;
    R.Top += 1;
    R.Right -= 1;
    R.Bottom -= 1;
  }
}

void TKitBevel::PaintBevel(fw::TCanvas* Canvas, const TRect& Rect, TRect& Inner, bool SkipBands) {
  TRect r = Rect;
  if (FExtent == 0) {
    Inner = r;
    return;
  }
  switch (FMode) {
    case bmCustom:
      if (FStyleOuter == bvShadow) {
        KitDrawShadowFrame(Canvas, r, FColors[1], FColors[2], FColors[0], FWidthOuter, FWidthInner,
                           SkipBands);
      } else {
        KitDrawBevel(Canvas, r, FStyleOuter, FColors[1], FColors[2], FWidthOuter);
        PaintBand(Canvas, r, FBorderWidth, SkipBands);
        KitDrawBevel(Canvas, r, FStyleInner, FColors[1], FColors[2], FWidthInner);
      }
      break;
    case bmStandard: KitDrawBorder(Canvas, r, FStandardStyle, 0); break;
    case bmEdge:
      if (!FBorderSides.Empty()) {
        static const uint32_t kEdges[8] = {plat::BDR_RAISEDINNER, plat::BDR_RAISEDOUTER,
                                           plat::BDR_SUNKENINNER, plat::BDR_SUNKENOUTER,
                                           plat::EDGE_BUMP,       plat::EDGE_ETCHED,
                                           plat::EDGE_RAISED,     plat::EDGE_SUNKEN};
        uint32_t flags = 0;
        if (FBorderSides.Contains(fsLeft)) flags |= plat::BF_LEFT;
        if (FBorderSides.Contains(fsTop)) flags |= plat::BF_TOP;
        if (FBorderSides.Contains(fsRight)) flags |= plat::BF_RIGHT;
        if (FBorderSides.Contains(fsBottom)) flags |= plat::BF_BOTTOM;
        plat::RECT pr{r.Left, r.Top, r.Right, r.Bottom};
        plat::DrawEdge(Canvas->Handle(), &pr, kEdges[FEdgeStyle], flags);
        r.Left += 2;
        r.Top += 2;
        r.Right -= 2;
        r.Bottom -= 2;
      }
      break;
    case bmWindows: KitDrawBorder(Canvas, r, lsLoweredExt, 0); break;
  }
  PaintBand(Canvas, r, FBorderInnerWidth, SkipBands);
  Inner = r;
}

}  // namespace vexa
