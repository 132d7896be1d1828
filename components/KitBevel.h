// The border of a library control: four ways of describing it (Mode), the
// pixels it takes on each side, and its painting through the drawing routines.
#pragma once

#include <cstdint>
#include <string>

#include "components/KitDrawing.h"
#include "components/KitObject.h"
#include "framework/Graphics.h"

namespace vexa {

enum TKitBevelMode { bmCustom, bmStandard, bmEdge, bmWindows };
enum TKitEdgeStyle {
  etRaisedInner, etRaisedOuter, etSunkenInner, etSunkenOuter, etBump, etEtched, etRaised, etSunken
};
enum TKitFrameSide { fsBottom, fsLeft, fsRight, fsTop };
using TKitFrameSides = fw::TSet<TKitFrameSide>;
using TKitBevelWidth = uint8_t;   // 0..50
using TKitBorderWidth = uint8_t;  // 0..255

class TKitBevel : public TKitObject {
public:
  TKitBevel() = default;
  // From a bevel: every setting and WindowBorderSupport, then one change.
  void Assign(fw::TPersistent* Source) override;
  // Recomputes the extents, then fires the change event.
  void NotifyChange() override;
  // "{Custom style}" and the like, after the mode.
  void GetDisplayString(std::string& Text) override;

  TKitBevelStyle StyleInner() const { return FStyleInner; }
  void SetStyleInner(TKitBevelStyle Value) { SetStyle(FStyleInner, FStyleOuter, Value); }
  TKitBevelStyle StyleOuter() const { return FStyleOuter; }
  void SetStyleOuter(TKitBevelStyle Value) { SetStyle(FStyleOuter, FStyleInner, Value); }
  TKitBevelWidth WidthInner() const { return FWidthInner; }
  void SetWidthInner(TKitBevelWidth Value) { SetField(FWidthInner, Value); }
  TKitBevelWidth WidthOuter() const { return FWidthOuter; }
  void SetWidthOuter(TKitBevelWidth Value) { SetField(FWidthOuter, Value); }
  fw::TColor BorderColor() const { return FColors[0]; }
  void SetBorderColor(fw::TColor Value) { SetColor(0, Value); }
  TKitFrameSides BorderSides() const { return FBorderSides; }
  void SetBorderSides(TKitFrameSides Value) { SetField(FBorderSides, Value); }
  TKitBorderWidth BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(TKitBorderWidth Value) { SetField(FBorderWidth, Value); }
  TKitBorderWidth BorderInnerWidth() const { return FBorderInnerWidth; }
  void SetBorderInnerWidth(TKitBorderWidth Value) { SetField(FBorderInnerWidth, Value); }
  TKitEdgeStyle EdgeStyle() const { return FEdgeStyle; }
  void SetEdgeStyle(TKitEdgeStyle Value) { SetField(FEdgeStyle, Value); }
  fw::TColor LightColor() const { return FColors[1]; }
  void SetLightColor(fw::TColor Value) { SetColor(1, Value); }
  TKitBevelMode Mode() const { return FMode; }
  void SetMode(TKitBevelMode Value);
  fw::TColor ShadowColor() const { return FColors[2]; }
  void SetShadowColor(fw::TColor Value) { SetColor(2, Value); }
  TKitBorderStyle StandardStyle() const { return FStandardStyle; }
  void SetStandardStyle(TKitBorderStyle Value);

  int32_t Extent() const { return FExtent; }
  int32_t ExtentRightBottom() const { return FExtentRightBottom; }
  bool WindowBorderSupport() const { return FWindowBorderSupport; }
  void SetWindowBorderSupport(bool Value) { FWindowBorderSupport = Value; }
  bool RecreateNeeded() const { return FRecreateNeeded; }
  // True when the owner's window must be made again for the border; clears the request.
  bool TakeRecreateNeeded();

  // The rectangle left inside the border.
  fw::TRect InnerRect(const fw::TRect& Rect) const;
  // Paints the border into Rect and returns the rectangle inside it.
  // SkipBands leaves the flat bands unpainted.
  void PaintBevel(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TRect& Inner, bool SkipBands);

protected:
  bool FWindowBorderSupport = false;
  bool FRecreateNeeded = false;

private:
  void SetStyle(TKitBevelStyle& Field, TKitBevelStyle& Other, TKitBevelStyle Value);
  void SetColor(int Index, fw::TColor Value);
  void CalcExtent();
  void PaintBand(fw::TCanvas* Canvas, fw::TRect& R, int Width, bool Skip);

  TKitBevelStyle FStyleInner = bvNone;
  TKitBevelStyle FStyleOuter = bvNone;
  TKitBevelWidth FWidthInner = 1;
  TKitBevelWidth FWidthOuter = 1;
  fw::TColor FColors[3] = {fw::clBtnFace, fw::clBtnHighlight, fw::clBtnShadow};
  TKitFrameSides FBorderSides{fsBottom, fsLeft, fsRight, fsTop};
  TKitBorderWidth FBorderWidth = 0;
  TKitBorderWidth FBorderInnerWidth = 0;
  TKitEdgeStyle FEdgeStyle = etEtched;
  TKitBevelMode FMode = bmCustom;
  TKitBorderStyle FStandardStyle = lsSingleLowered;
  int32_t FExtent = 0;
  int32_t FExtentRightBottom = 0;
};

}  // namespace vexa
