// The form shape: a form's window region, background and dragging.
#include "components/kitregion.h"

#include "components/KitApplication.h"
#include "components/kitregionInternal.h"

namespace vexa {

using namespace kitregion;
using fw::TRect;

namespace {

constexpr plat::LRESULT HTCLIENT = 1;
constexpr plat::LRESULT HTCAPTION = 2;
constexpr plat::UINT WM_NCRBUTTONDOWN = 0x00A4;
constexpr plat::UINT WM_NCRBUTTONUP = 0x00A5;
constexpr plat::UINT WM_CAPTURECHANGED = 0x0215;

}  // namespace

TKitFormShape::TKitFormShape(fw::TComponent* AOwner)
    : TKitWndProcComponent(AOwner),
      TKitPictureSource(this, [this](fw::TObject*) { ImageListChanged(); }),
      FForm(dynamic_cast<fw::TCustomForm*>(AOwner)),
      FRegion(std::make_unique<TKitBorderRegion>()),
      FFillObject(std::make_unique<TKitFillObject>()),
      FBackBitmap(std::make_unique<fw::TBitmap>()) {
  if (Designing() && CheckSingleInstance(AOwner, KitClassOf<TKitFormShape>, false))
    throw KitEOneInstError(ClassName(), 0);
  FRegion->SetOwnerControl(FForm);
  FRegion->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
  FFillObject->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
  // A form built in code is never loaded: the hook goes in at once.
  if (!ComponentState().Contains(fw::csLoading)) HookIfEnabled();
}

TKitFormShape::~TKitFormShape() {
  Unhook();
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
  DefineImageListRef(Filer);
}

void TKitFormShape::Notification(fw::TComponent* AComponent, fw::TOperation Operation) {
  TKitWndProcComponent::Notification(AComponent, Operation);
  if (Operation == fw::opRemove && AComponent) ImageListRemoved(AComponent);
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
    if (FFillObject->Style() == sfBitmapList && HasPicture())
      ImageList()->CopyImageToBitmap(ListIndex(), ImageIndex(), FFillObject->ListBitmap());
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
