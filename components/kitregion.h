// Region shapes: a bounding rectangle turned into a window region of one of
// eighteen shapes, with a border description, a region mask, a drop shadow and
// a point list.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "components/KitCustomComponent.h"
#include "components/KitWndProcComponent.h"
#include "components/kitcont.h"
#include "components/kitimage.h"
#include "components/KitAlphaObject.h"
#include "components/KitFillObject.h"
#include "components/KitObject.h"
#include "components/KitPictureSource.h"
#include "components/KitPointList.h"
#include "components/KitRegionMask.h"
#include "components/KitRgnShadow.h"
#include "framework/Controls.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"

namespace vexa {

enum TKitRegionShape {
  rsRect, rsRoundRect, rsBitmap, rsNoseRect, rsRoundNoseRect, rsElliptic, rsStar, rsRoundShield,
  rsSharpShield, rsDiamond, rsOctagon, rsComb, rsHalfRound, rsUserRegion, rsThinkBubble,
  rsRoundThinkBubble, rsEllipticThinkBubble, rsPointList
};

enum TKitExtPos {
  epLeftTop, epTopLeft, epTopRight, epRightTop, epRightBottom, epBottomRight, epBottomLeft,
  epLeftBottom
};

enum TKitRegionBorderStyle {
  rbNone, rbLowered, rbRaised, rbSingle, rbSingleRaised, rbSingleLowered, rbRaisedpsb, rbLoweredpsb
};

class TKitRegionBorder : public TKitObject {
public:
  TKitRegionBorder() = default;
  // From another border: the four values, one change event.
  void Assign(fw::TPersistent* Source) override;

  TKitRegionBorderStyle Style() const { return FStyle; }
  void SetStyle(TKitRegionBorderStyle Value) { Set(FStyle, Value); }
  fw::TColor LightColor() const { return FLightColor; }
  void SetLightColor(fw::TColor Value) { Set(FLightColor, Value); }
  fw::TColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(fw::TColor Value) { Set(FShadowColor, Value); }
  fw::TColor SingleColor() const { return FSingleColor; }
  void SetSingleColor(fw::TColor Value) { Set(FSingleColor, Value); }

private:
  template <class V>
  void Set(V& Field, const V& Value) {
    if (Field == Value) return;
    Field = Value;
    SubObjectChanged(nullptr);
  }
  TKitRegionBorderStyle FStyle = rbSingle;
  fw::TColor FLightColor = fw::clBtnHighlight;
  fw::TColor FShadowColor = fw::clBtnShadow;
  fw::TColor FSingleColor = fw::clBlack;
};

struct TKitNose;

class TKitRegion : public TKitObject {
public:
  TKitRegion();
  ~TKitRegion() override;

  // From another region: shape, corners, shadow, extension position, border
  // and mask, one change event. Points and user region data stay.
  void Assign(fw::TPersistent* Source) override;
  // "PointList": X then Y of every point, stored when there are points.
  void DefineProperties(TKitFiler* Filer) override;

  // Builds the region of the current shape for Rect into RegionHandle (none
  // when the shape's data is missing).
  virtual void BuildRegion(const fw::TRect& Rect);
  // Paints the drop shadow of the region built last, then the border along the
  // outline of the shape in Rect (the rectangle given to BuildRegion).
  virtual void PaintBorder(fw::TCanvas* Canvas, const fw::TRect& Rect);
  // The band of the shadow right and below the region; Rect loses the depth
  // at its right and bottom when there is a shadow.
  void PaintShadow(fw::TCanvas* Canvas, fw::TRect& Rect);
  // A plain rectangle region of Rect.
  void SetRectRegion(const fw::TRect& Rect);
  plat::HRGN RegionHandle() const { return FRegionHandle; }
  // Keeps the data of Region as the user region.
  void StoreUserRegion(plat::HRGN Region);
  const std::vector<uint8_t>& UserRegionData() const { return FUserData; }
  // The point list's change handler: the polygon of the points becomes the
  // user region while the shape is rsPointList.
  void RebuildFromPoints();

  TKitPointList* Points() const { return FPoints.get(); }
  TKitRegionShape Shape() const { return FShape; }
  void SetShape(TKitRegionShape Value);
  TKitExtPos ExtPos() const { return FExtPos; }
  void SetExtPos(TKitExtPos Value);
  TKitRegionMask* Mask() const { return FMask.get(); }
  void SetMask(TKitRegionMask* Value) { FMask->Assign(Value); }
  int32_t RoundX() const { return FRoundX; }
  void SetRoundX(int32_t Value) { SetRound(FRoundX, Value); }
  int32_t RoundY() const { return FRoundY; }
  void SetRoundY(int32_t Value) { SetRound(FRoundY, Value); }
  TKitRgnShadow* Shadow() const { return FShadow.get(); }
  void SetShadow(TKitRgnShadow* Value) { FShadow->Assign(Value); }

  fw::TWinControl* OwnerControl() const { return FOwnerControl; }
  void SetOwnerControl(fw::TWinControl* Value) { FOwnerControl = Value; }
  static constexpr int32_t BubbleCount = 4;

protected:
  TKitRegionBorder* BorderObject() const { return FBorder.get(); }
  bool OwnerDestroying() const;
  bool OwnerDesigning() const;

private:
  void SetRound(int32_t& Field, int32_t Value);
  plat::HRGN UserRegion() const;
  // The nose of the nose shapes in R: a tenth of R's width long, its base 5
  // pixels from the body's corner, or the corner's rounding for the round nose.
  TKitNose Nose(const fw::TRect& R) const;

  TKitRegionShape FShape = rsRoundRect;
  int32_t FRoundX = 20;
  int32_t FRoundY = 20;
  TKitExtPos FExtPos = epLeftTop;
  std::unique_ptr<TKitRegionBorder> FBorder;
  std::unique_ptr<TKitRegionMask> FMask;
  std::unique_ptr<TKitRgnShadow> FShadow;
  std::unique_ptr<TKitPointList> FPoints;
  fw::TWinControl* FOwnerControl = nullptr;
  plat::HRGN FRegionHandle = 0;
  std::vector<uint8_t> FUserData;
};

class TKitBorderRegion : public TKitRegion {
public:
  TKitBorderRegion() = default;
  TKitRegionBorder* Border() const { return BorderObject(); }
  void SetBorder(TKitRegionBorder* Value) { BorderObject()->Assign(Value); }
};

// Gives its owner form a window region of one of the shapes, paints the form's
// background and the shape's border and shadow when the background is erased,
// and lets the user drag the form by any free spot of its client area. It
// hooks the owner form's window procedure.
class TKitFormShape : public TKitWndProcComponent, public TKitPictureSource {
public:
  // At design time an owner that is no form, or a form that holds another
  // form shape, raises KitEOneInstError.
  explicit TKitFormShape(fw::TComponent* AOwner);
  ~TKitFormShape() override;

  // Inherited handling, then the window region is built again.
  void SubObjectChanged(fw::TObject* Sender) override;
  // "Internal": the reference of a shared image list.
  void DefineProperties(TKitFiler* Filer) override;
  void HookWndProc(fw::TMessage& Message) override;

  void RebuildWindowRegion();
  // Paints on DC (0: the form's own client context).
  void PaintFormBackground(plat::HDC DC);
  bool HasFormBackground() const;
  fw::TBitmap* FormBackground() const;

  TKitBorderRegion* Region() const { return FRegion.get(); }
  void SetRegion(TKitBorderRegion* Value) { FRegion->Assign(Value); }
  bool ShowFormCaption() const { return FShowFormCaption; }
  void SetShowFormCaption(bool Value);
  bool FormDragable() const { return FFormDragable; }
  void SetFormDragable(bool Value) { FFormDragable = Value; }
  bool UseRgnBitmap() const { return FUseRgnBitmap; }
  void SetUseRgnBitmap(bool Value);
  TKitFillObject* FillObject() const { return FFillObject.get(); }
  void SetFillObject(TKitFillObject* Value) { FFillObject->Assign(Value); }
  // The image list reports a change.
  void ImageListChanged() { SubObjectChanged(this); }

  int32_t CaptionHeight() const { return FCaptionHeight; }
  fw::TCustomForm* Form() const { return FForm; }

protected:
  void Loaded() override;
  void Notification(fw::TComponent* AComponent, fw::TOperation Operation) override;

private:
  bool Designing() const { return ComponentState().Contains(fw::csDesigning); }

  fw::TCustomForm* FForm = nullptr;
  std::unique_ptr<TKitBorderRegion> FRegion;
  std::unique_ptr<TKitFillObject> FFillObject;
  std::unique_ptr<fw::TBitmap> FBackBitmap;
  bool FShowFormCaption = true;
  bool FFormDragable = true;
  bool FUseRgnBitmap = true;
  bool FRightButton = false;
  int32_t FCaptionHeight = 0;
};

// Geometry shared by the region and its border painter.
struct TKitNose {
  fw::TRect Body;
  plat::POINT Points[3];  // apex, base point nearer the corner, the farther one
};
TKitNose KitNoseGeometry(const fw::TRect& Rect, int32_t Length, int32_t BaseOffset, TKitExtPos Pos);

struct TKitBubble {
  int32_t Diameter = 0;
  int32_t X = 0, Y = 0;  // centre
};
// The chain of BubbleCount + 3 circles from the corner toward the body; Body
// receives Rect moved in by Distance at the ExtPos corner.
std::vector<TKitBubble> KitBubbleChain(const fw::TRect& Rect, int32_t Distance, int32_t Count,
                                       TKitExtPos Pos, fw::TRect& Body);

}  // namespace vexa
