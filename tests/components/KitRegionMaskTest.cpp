// labels: unit
// Shadows, point lists and region masks: packed points, change events, the
// stored region data and border bitmaps, and their damaged forms.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/KitPointList.h"
#include "components/KitRegionMask.h"
#include "components/KitRgnShadow.h"
#include "components/KitShadow.h"
#include "tests/support/Pixels.h"

using namespace vexa;
using fw::TPoint;

namespace {

using vexa::test::Px;

std::unique_ptr<fw::TBitmap> Picture() {
  auto b = vexa::test::Surface(5, 3, fw::clRed);
  b->Canvas()->SetPixels(4, 2, fw::clBlue);
  return b;
}

}  // namespace

TEST(KitRegionMaskTest, ShadowSummariesAndAssign) {
  TKitShadow s;
  std::string t;
  s.GetDisplayString(t);
  EXPECT_EQ(t, "{solid, 6}");
  TKitRgnShadow r;
  r.GetDisplayString(t);
  EXPECT_EQ(t, "{Disabled}");
  EXPECT_EQ(r.Color(), fw::clBtnShadow);
  r.SetStyle(hssTracing);
  r.SetDepth(12);
  r.GetDisplayString(t);
  EXPECT_EQ(t, "{tracing, 12}");
  int changes = 0;
  s.OnChange = [&](fw::TObject*) { ++changes; };
  s.Assign(&r);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(s.Style(), hssTracing);
  EXPECT_EQ(s.Depth(), 12);
  s.SetDepth(12);
  EXPECT_EQ(changes, 1);
}

TEST(KitRegionMaskTest, PackedPoints) {
  TKitPointList l;
  int changes = 0;
  l.OnChange = [&](fw::TObject*) { ++changes; };
  l.AddPoint(TPoint{-5, -7});
  EXPECT_EQ(changes, 2);
  l.AddPoint(TPoint{300, 40000});
  TPoint p;
  l.GetPoint(0, p);
  EXPECT_EQ(p, (TPoint{-5, -7}));
  l.GetPoint(1, p);
  EXPECT_EQ(p, (TPoint{300, -25536}));
  EXPECT_EQ(uintptr_t(l.Items(1)), (uintptr_t(300) << 16) | 40000u);

  // Beyond the end: ignored; negative: the list's index error.
  p = TPoint{9, 9};
  l.GetPoint(2, p);
  EXPECT_EQ(p, (TPoint{9, 9}));
  changes = 0;
  l.PutPoint(5, TPoint{1, 1});
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(l.Count(), 2);
  EXPECT_THROW(l.GetPoint(-1, p), fw::EListError);
  l.PutPoint(0, TPoint{1, 2});
  EXPECT_EQ(changes, 1);
}

TEST(KitRegionMaskTest, EmptyMaskStoresNothing) {
  TKitRegionMask m;
  fw::TMemoryStream s;
  TKitWriter w(&s);
  w.WriteProperties(&m);
  EXPECT_EQ(s.Size(), 1);
  TKitRegionMask back;
  s.SetPosition(0);
  TKitReader r(&s);
  r.ReadProperties(&back);
  EXPECT_EQ(back.RegionDataSize(), 0);
  EXPECT_TRUE(back.BorderBitmap()->Empty());
}

TEST(KitRegionMaskTest, RegionDataAndBitmapsRoundTrip) {
  for (bool compressed : {false, true}) {
    TKitRegionMask m;
    plat::HRGN rgn = plat::CreateEllipticRgn(0, 0, 30, 20);
    m.StoreRegion(rgn);
    m.SetCompressed(compressed);
    auto pic = Picture();
    m.BorderBitmap()->Assign(pic.get());
    m.BorderDownBitmap()->Assign(pic.get());
    fw::TMemoryStream s;
    TKitWriter w(&s);
    w.WriteProperties(&m);
    // "RegionData" leads, written as binary of exactly the data size.
    const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 1), p[0]), "RegionData");
    EXPECT_EQ(p[11], vaBinary);
    uint32_t n =
        uint32_t(p[12]) | uint32_t(p[13]) << 8 | uint32_t(p[14]) << 16 | uint32_t(p[15]) << 24;
    EXPECT_EQ(int32_t(n), m.RegionDataSize());
    // The first bitmap property carries the compressed flag byte first.
    size_t at = 16 + n;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + at + 1), p[at]), "BorderBmp");
    EXPECT_EQ(p[at + 1 + 9 + 1 + 4], compressed ? 1 : 0);

    TKitRegionMask back;
    back.SetRegionDataSize(m.RegionDataSize());
    s.SetPosition(0);
    TKitReader r(&s);
    r.ReadProperties(&back);
    EXPECT_EQ(back.RegionData(), m.RegionData());
    EXPECT_EQ(back.Compressed(), compressed);
    ASSERT_EQ(back.BorderBitmap()->Width(), 5);
    EXPECT_EQ(Px(back.BorderBitmap(), 4, 2), fw::clBlue);
    EXPECT_EQ(Px(back.BorderBitmap(), 0, 0), fw::clRed);
    EXPECT_TRUE(back.BorderUpBitmap()->Empty());
    EXPECT_EQ(back.BorderDownBitmap()->Height(), 3);
    plat::HRGN again = plat::ExtCreateRegion(nullptr, uint32_t(back.RegionDataSize()),
                                             back.RegionData().data());
    EXPECT_TRUE(plat::EqualRgn(again, rgn));
    plat::DeleteObject(again);
    plat::DeleteObject(rgn);
  }
}

TEST(KitRegionMaskTest, RegionDataOfTheWrongSizeFails) {
  TKitRegionMask m;
  plat::HRGN rgn = plat::CreateRectRgn(0, 0, 3, 3);
  m.StoreRegion(rgn);
  plat::DeleteObject(rgn);
  fw::TMemoryStream s;
  TKitWriter w(&s);
  w.WriteProperties(&m);
  for (int32_t size : {m.RegionDataSize() + 1, -1, 0x7FFFFFFF}) {
    TKitRegionMask back;
    back.SetRegionDataSize(size);
    s.SetPosition(0);
    TKitReader r(&s);
    EXPECT_THROW(r.ReadProperties(&back), fw::EReadError) << size;
  }
}

TEST(KitRegionMaskTest, AssignFromAMaskWithoutData) {
  TKitRegionMask a, empty;
  plat::HRGN rgn = plat::CreateRectRgn(0, 0, 3, 3);
  a.StoreRegion(rgn);
  plat::DeleteObject(rgn);
  auto pic = Picture();
  a.BorderBitmap()->Assign(pic.get());
  int changes = 0;
  a.OnChange = [&](fw::TObject*) { ++changes; };
  a.Assign(&empty);
  EXPECT_EQ(a.RegionDataSize(), 0);
  EXPECT_TRUE(a.RegionData().empty());
  EXPECT_EQ(a.BorderBitmap()->Width(), 5);
  EXPECT_EQ(changes, 0);

  TKitRegionMask b, c;
  plat::HRGN r2 = plat::CreateRectRgn(1, 1, 2, 2);
  b.StoreRegion(r2);
  plat::DeleteObject(r2);
  b.BorderUpBitmap()->Assign(pic.get());
  c.Assign(&b);
  EXPECT_EQ(c.RegionData(), b.RegionData());
  EXPECT_EQ(c.BorderUpBitmap()->Width(), 5);
  EXPECT_TRUE(c.BorderBitmap()->Empty());
}
