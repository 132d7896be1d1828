#include "components/KitCustomGlyphLabel.h"

#include <algorithm>

#include "components/KitCustomLabel.h"
#include "components/KitDrawing.h"
#include "framework/ScopeGuard.h"

namespace vexa {

TKitCustomGlyphLabel::TKitCustomGlyphLabel(fw::TComponent* AOwner)
    : TKitBaseLabel(AOwner),
      FLayout(std::make_unique<TKitGlyphTextLayout>()),
      FFont3D(std::make_unique<TKit3DCaption>()),
      FBevel(std::make_unique<TKitBevel>()) {
  FLayout->OnChange = [this](fw::TObject* s) { PropChanged(s); };
  FFont3D->OnChange = [this](fw::TObject* s) { PropChanged(s); };
  FBevel->OnChange = [this](fw::TObject* s) { PropChanged(s); };
}

TKitCustomGlyphLabel::~TKitCustomGlyphLabel() {
  FLayout->OnChange = nullptr;
  FFont3D->OnChange = nullptr;
  FBevel->OnChange = nullptr;
  FLayout.reset();
  FBevel.reset();
  FFont3D.reset();
}

void TKitCustomGlyphLabel::AdjustLabelBounds() {
  if (!AutoSize() || Loading() || !FLayout || !FFont3D || !FBevel) return;
  fw::TRect t = MeasureLabel(FFont3D.get(), 0, FBevel->Extent());
  fw::TRect g;
  if (!IsGlyphEmpty()) ImageList()->GetImageRect(ListIndex(), ImageIndex(), g);
  switch (FLayout->AlignText2Glyph()) {
    case taLeft:
    case taLeftTop:
    case taRight:
    case taRightTop:
      t.Right += g.Width() + FLayout->Spacing();
      t.Top = std::max(t.Top, g.Top);
      t.Bottom = std::max(t.Bottom, g.Bottom);
      break;
    default:
      t.Bottom += FLayout->Spacing() + g.Bottom;
      t.Right = std::max(t.Right, g.Right);
      break;
  }
  t.Right += FLayout->OffsetX();
  t.Bottom += FLayout->OffsetY();
  SetBounds(Left(), Top(), t.Right, t.Bottom);
}

void TKitCustomGlyphLabel::Paint() {
  if (FPainting || Loading() || !CanvasBound()) return;
  auto glyph = std::make_unique<fw::TBitmap>();
  std::string text;
  GetLabelText(text);
  FPainting = true;
  auto done = fw::Finally([&] { FPainting = false; });
  fw::TRect r = BeginTextPaint();
  PaintInsideBevel(FBevel.get(), r);
  fw::TCanvas* c = Canvas();
  if (!IsGlyphEmpty()) ImageList()->CopyImageToBitmap(ListIndex(), ImageIndex(), glyph.get());
  c->Brush()->SetColor(Color());
  KitDrawGlyphTextBitmap(c, text, FFont3D.get(), 0, uint16_t(Enabled() ? kteEnabled : 0x01),
                         Transparent(), ShowAccelChar(), MultiLine(), FLayout.get(), nullptr,
                         glyph.get(), r);
}

plat::HPALETTE TKitCustomGlyphLabel::GetPalette() {
  if (IsGlyphEmpty()) return 0;
  return ImageList()->GetImagePalette(ImageIndex());
}

}  // namespace vexa
