// labels: unit
// Form shape: the window region a form receives for its shape, caption strip
// and shadow, the minimised and bitmap cases, dragging by the client area, the
// background erase, and unhooking.
#include <gtest/gtest.h>

#include <memory>

#include "components/KitApplication.h"
#include "components/kitimage.h"
#include "components/kitregion.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "tests/support/TestSession.h"

using namespace vexa;
using plat::HRGN;

namespace {

constexpr plat::LRESULT HTCLIENT = 1, HTCAPTION = 2;
constexpr plat::UINT WM_NCRBUTTONDOWN = 0x00A4, WM_NCRBUTTONUP = 0x00A5;

struct Frame {
  int32_t fx, fy, caption;
};

Frame SizeableFrame() {
  return {plat::GetSystemMetrics(plat::SM_CXFRAME), plat::GetSystemMetrics(plat::SM_CYFRAME),
          plat::GetSystemMetrics(plat::SM_CYCAPTION)};
}

// The window region the form holds now (0 for none).
HRGN WindowRegion(fw::TCustomForm* form) {
  HRGN r = plat::CreateRectRgn(0, 0, 0, 0);
  if (plat::GetWindowRgn(form->Handle(), r) == plat::ERROR) {
    plat::DeleteObject(r);
    return 0;
  }
  return r;
}

bool SameRegion(HRGN a, HRGN b) {
  bool same = a && b && plat::EqualRgn(a, b);
  if (a) plat::DeleteObject(a);
  if (b) plat::DeleteObject(b);
  return same;
}

HRGN Op(HRGN a, HRGN b, int mode) {
  plat::CombineRgn(a, a, b, mode);
  plat::DeleteObject(b);
  return a;
}

plat::LPARAM ScreenPoint(fw::TCustomForm* form, int x, int y) {
  fw::TPoint p = form->ClientToScreen(fw::TPoint{x, y});
  return plat::LPARAM((uint32_t(uint16_t(p.Y)) << 16) | uint16_t(p.X));
}

}  // namespace

TEST(KitFormShapeTest, EllipticFormWithAndWithoutCaptionStrip) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetBorderStyle(fw::bsSizeable);
  form->SetBounds(10, 10, 200, 150);
  auto* shape = new TKitFormShape(form);
  shape->Region()->SetShape(rsElliptic);
  const Frame f = SizeableFrame();
  const int32_t W = 200, H = 150, strip = f.caption + f.fy;
  auto ellipse = [&] {
    HRGN e = plat::CreateEllipticRgn(-1, -1, W - 2 * f.fx + 1, H - 2 * f.fy - f.caption + 1);
    plat::OffsetRgn(e, f.fx, strip);
    return e;
  };
  EXPECT_TRUE(SameRegion(WindowRegion(form),
                         Op(ellipse(), plat::CreateRectRgn(0, 0, W, strip), plat::RGN_OR)));
  EXPECT_EQ(shape->CaptionHeight(), f.caption);

  shape->SetShowFormCaption(false);
  EXPECT_TRUE(SameRegion(WindowRegion(form),
                         Op(ellipse(), plat::CreateRectRgn(0, 0, W, strip), plat::RGN_DIFF)));

  // A shadow adds the shape moved by its depth.
  shape->SetShowFormCaption(true);
  shape->Region()->Shadow()->SetStyle(hssSolid);
  {
    HRGN e =
        plat::CreateEllipticRgn(-1, -1, W - 2 * f.fx + 1 - 6, H - 2 * f.fy - f.caption + 1 - 6);
    plat::OffsetRgn(e, f.fx, strip);
    HRGN moved = plat::CreateRectRgn(0, 0, 0, 0);
    plat::CombineRgn(moved, e, 0, plat::RGN_COPY);
    plat::OffsetRgn(moved, 6, 6);
    e = Op(e, moved, plat::RGN_OR);
    EXPECT_TRUE(
        SameRegion(WindowRegion(form), Op(e, plat::CreateRectRgn(0, 0, W, strip), plat::RGN_OR)));
  }

  // A new size rebuilds the region through the form's size message.
  shape->Region()->Shadow()->SetStyle(hssNone);
  form->SetBounds(10, 10, 120, 100);
  {
    HRGN e = plat::CreateEllipticRgn(-1, -1, 120 - 2 * f.fx + 1, 100 - 2 * f.fy - f.caption + 1);
    plat::OffsetRgn(e, f.fx, strip);
    EXPECT_TRUE(
        SameRegion(WindowRegion(form), Op(e, plat::CreateRectRgn(0, 0, 120, strip), plat::RGN_OR)));
  }
  fw::Free(form);
}

TEST(KitFormShapeTest, MinimisedAndBitmapForms) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetBorderStyle(fw::bsSizeable);
  form->SetBounds(0, 0, 160, 120);
  auto* shape = new TKitFormShape(form);
  shape->Region()->SetShape(rsRect);
  const Frame f = SizeableFrame();
  plat::ShowWindow(form->Handle(), plat::SW_MINIMIZE);
  shape->RebuildWindowRegion();
  EXPECT_TRUE(SameRegion(WindowRegion(form), plat::CreateRectRgn(0, 0, 160, f.caption + f.fy)));
  plat::ShowWindow(form->Handle(), plat::SW_RESTORE);

  // The bitmap shape sizes the form to the picture plus frame, caption and
  // shadow depth (whatever the shadow style) and takes the stored region.
  fw::TBitmap pic;
  pic.SetSize(50, 40);
  shape->Region()->Mask()->BorderBitmap()->Assign(&pic);
  HRGN captured = plat::CreateEllipticRgn(0, 0, 50, 40);
  shape->Region()->Mask()->StoreRegion(captured);
  shape->Region()->SetShape(rsBitmap);
  EXPECT_EQ(form->Width(), 50 + 6 + 2 * f.fx);
  EXPECT_EQ(form->Height(), 40 + f.caption + 2 * f.fy + 6);
  plat::OffsetRgn(captured, f.fx, f.caption + f.fy);
  EXPECT_TRUE(SameRegion(WindowRegion(form),
                         Op(captured, plat::CreateRectRgn(0, 0, form->Width(), f.caption + f.fy),
                            plat::RGN_OR)));
  EXPECT_TRUE(shape->HasFormBackground());
  EXPECT_EQ(shape->FormBackground(), shape->Region()->Mask()->BorderBitmap());

  // A user region without data leaves only the caption strip.
  shape->Region()->SetShape(rsUserRegion);
  EXPECT_TRUE(SameRegion(WindowRegion(form),
                         plat::CreateRectRgn(0, 0, form->Width(), f.caption + f.fy)));
  fw::Free(form);
}

TEST(KitFormShapeTest, DraggingByTheFreeClientArea) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetBounds(0, 0, 200, 150);
  auto* label = new fw::TLabel(form);
  label->SetParent(form);
  label->SetBounds(10, 10, 50, 20);
  // The form below answers every hit test with its client area.
  plat::WNDPROC below = plat::SetWindowProc(
      form->Handle(), [](plat::HWND, plat::UINT m, plat::WPARAM, plat::LPARAM) -> plat::LRESULT {
        return m == plat::WM_NCHITTEST ? HTCLIENT : 0;
      });
  auto* shape = new TKitFormShape(form);
  const plat::HWND h = form->Handle();
  EXPECT_EQ(plat::SendMessage(h, plat::WM_NCHITTEST, 0, ScreenPoint(form, 100, 100)), HTCAPTION);
  EXPECT_EQ(plat::SendMessage(h, plat::WM_NCHITTEST, 0, ScreenPoint(form, 20, 15)), HTCLIENT);
  label->SetEnabled(false);
  EXPECT_EQ(plat::SendMessage(h, plat::WM_NCHITTEST, 0, ScreenPoint(form, 20, 15)), HTCAPTION);
  // After a right-button press in the non-client area dragging waits for the release.
  plat::SendMessage(h, WM_NCRBUTTONDOWN, 0, 0);
  EXPECT_EQ(plat::SendMessage(h, plat::WM_NCHITTEST, 0, ScreenPoint(form, 100, 100)), HTCLIENT);
  plat::SendMessage(h, WM_NCRBUTTONUP, 0, 0);
  EXPECT_EQ(plat::SendMessage(h, plat::WM_NCHITTEST, 0, ScreenPoint(form, 100, 100)), HTCAPTION);
  shape->SetFormDragable(false);
  EXPECT_EQ(plat::SendMessage(h, plat::WM_NCHITTEST, 0, ScreenPoint(form, 100, 100)), HTCLIENT);
  shape->SetFormDragable(true);
  // Freeing the component gives the form its own procedure back.
  fw::Free(shape);
  EXPECT_EQ(plat::SendMessage(h, plat::WM_NCHITTEST, 0, ScreenPoint(form, 100, 100)), HTCLIENT);
  plat::SetWindowProc(h, below);
  fw::Free(form);
}

TEST(KitFormShapeTest, EraseBackgroundPaintsTheFillAndBorder) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetBorderStyle(fw::bsNone);
  form->SetBounds(0, 0, 60, 40);
  auto* shape = new TKitFormShape(form);
  shape->Region()->SetShape(rsRect);
  shape->Region()->Border()->SetSingleColor(fw::clBlue);
  shape->FillObject()->SetStyle(sfBrush);
  shape->FillObject()->Brush()->SetColor(fw::clRed);
  EXPECT_TRUE(shape->HasFormBackground());
  fw::TBitmap target;
  target.SetPixelFormat(fw::pf24bit);
  target.SetSize(form->ClientWidth(), form->ClientHeight());
  EXPECT_EQ(plat::SendMessage(form->Handle(), plat::WM_ERASEBKGND,
                              plat::WPARAM(target.Canvas()->Handle()), 0),
            1);
  const int32_t cw = form->ClientWidth(), ch = form->ClientHeight();
  EXPECT_EQ(fw::TColor(plat::GetBitmapPixel(target.Handle(), cw / 2, ch / 2)), fw::clRed);
  EXPECT_EQ(fw::TColor(plat::GetBitmapPixel(target.Handle(), 0, ch / 2)), fw::clBlue);
  EXPECT_EQ(shape->FormBackground()->Width(), cw);
  // Changing the picture indexes alone repaints nothing and keeps the region.
  HRGN before = WindowRegion(form);
  shape->SetListIndex(3);
  shape->SetImageIndex(2);
  EXPECT_TRUE(SameRegion(WindowRegion(form), before));
  fw::Free(form);
}

TEST(KitFormShapeTest, OneInstancePerFormAtDesignTime) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetDesigning(true);
  auto* first = new TKitFormShape(form);
  EXPECT_FALSE(first->Hooked());  // designing: the window is left alone
  try {
    new TKitFormShape(form);
    ADD_FAILURE() << "no exception";
  } catch (const KitEOneInstError& e) {
    EXPECT_EQ(std::string(e.what()),
              "TKitFormShape:\rInvalid owner (<>TForm) or second instance on a form");
  }
  EXPECT_EQ(form->ComponentCount(), 1);
  // An owner that is no form.
  fw::TComponent holder(nullptr);
  holder.SetDesigning(true);
  EXPECT_THROW(new TKitFormShape(&holder), KitEOneInstError);
  // At run time nothing is checked.
  form->SetDesigning(false);
  auto* second = new TKitFormShape(form);
  EXPECT_EQ(second->Owner(), form);
  fw::Free(form);
}

TEST(KitFormShapeTest, PictureFromAnImageList) {
  vexa::test::TestSession session;
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);
  form->SetBorderStyle(fw::bsNone);
  form->SetBounds(0, 0, 40, 30);
  auto* list = new TKitBitmapList(form);
  auto* item = new TKitBitmapListItem(nullptr);
  list->AddItem(item);
  fw::TBitmap pic;
  pic.SetPixelFormat(fw::pf24bit);
  pic.SetSize(4, 4);
  pic.Canvas()->Brush()->SetColor(fw::clLime);
  pic.Canvas()->FillRect(fw::TRect{0, 0, 4, 4});
  item->SetBitmap(&pic);

  auto* shape = new TKitFormShape(form);
  shape->Region()->SetShape(rsRect);
  shape->Region()->Border()->SetStyle(rbNone);
  shape->FillObject()->SetStyle(sfBitmapList);
  shape->SetImageList(list);
  fw::TBitmap target;
  target.SetPixelFormat(fw::pf24bit);
  target.SetSize(form->ClientWidth(), form->ClientHeight());
  shape->PaintFormBackground(target.Canvas()->Handle());
  EXPECT_EQ(fw::TColor(plat::GetBitmapPixel(target.Handle(), 10, 10)), fw::clLime);
  // Freeing the list clears the reference.
  fw::Free(list);
  EXPECT_EQ(shape->ImageList(), nullptr);
  fw::Free(form);
}
