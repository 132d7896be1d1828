#include "components/KitCustomPanel.h"

namespace vexa {

TKitCustomPanel::TKitCustomPanel(fw::TComponent* AOwner) : TKitCustomControl(AOwner) {
  SetControlStyle(fw::TControlStyle{fw::csAcceptsControls, fw::csCaptureMouse, fw::csClickEvents,
                                    fw::csOpaque, fw::csDoubleClicks, fw::csReplicatable});
  SetColor(fw::clBtnFace);
}

bool TKitCustomPanel::HasBackBitmap() { return Transparent() && KitParentHasBackground(Parent()); }

fw::TBitmap* TKitCustomPanel::GetBackBitmap() {
  if (!HasBackBitmap()) return nullptr;
  fw::TBitmap* b = KitParentBackground(Parent());
  if (b && Effects()->IsActive()) b->SetPixelFormat(fw::pf24bit);
  return b;
}

fw::TPoint TKitCustomPanel::OriginInBackground() {
  return KitParentMapToBackground(Parent(), fw::Point(Left(), Top()));
}

fw::TPoint TKitCustomPanel::MapToBackground(fw::TPoint P) {
  if (!HasBackBitmap()) return P;
  fw::TPoint o = OriginInBackground();
  fw::TPoint r = fw::Point(o.X + P.X, o.Y + P.Y);
  if (ClientWidth() != Width()) r.X += (Width() - ClientWidth()) / 2;
  if (ClientHeight() != Height()) r.Y += (Height() - ClientHeight()) / 2;
  return r;
}

bool TKitCustomPanel::DrawBackBitmap(fw::TCanvas* ACanvas, const fw::TRect& Rect, uint32_t,
                                     fw::TPoint Offset) {
  if (Loading() || IsDestroying()) return false;
  fw::TBitmap* back = GetBackBitmap();
  if (!back) return false;
  fw::TPoint o = OriginInBackground();
  const int32_t dx = (Width() - ClientWidth()) / 2, dy = (Height() - ClientHeight()) / 2;
  fw::TRect area{o.X + dx, o.Y + dy, o.X + ClientWidth() + dx, o.Y + ClientHeight() + dy};
  fw::TRect source{Rect.Left + area.Left + Offset.X, Rect.Top + area.Top + Offset.Y,
                   Rect.Right + area.Left + Offset.X, Rect.Bottom + area.Top + Offset.Y};
  TKitBitmapEffectObject* fx = Effects();
  if (!fx->IsActive()) {
    ACanvas->CopyRect(Rect, back->Canvas(), source);
    return true;
  }
  source = fw::TRect{source.Left - area.Left, source.Top - area.Top, source.Right - area.Left,
                     source.Bottom - area.Top};
  if (fx->BufferValid() && fx->BufferBitmap()) {
    ACanvas->CopyRect(Rect, fx->BufferBitmap()->Canvas(), source);
    return true;
  }
  auto work = std::make_unique<fw::TBitmap>();
  work->SetPixelFormat(fw::pf24bit);
  work->SetSize(area.Width() + 2, area.Height() + 2);
  KitApplyBitmapEffects(fx, back, area, work->Canvas()->ClipRect(), work.get());
  ACanvas->CopyRect(Rect, work->Canvas(), source);
  return true;
}

void TKitCustomPanel::WndProc(fw::TMessage& Message) {
  TKitCustomControl::WndProc(Message);
  if (Message.Msg == plat::WM_SIZE) Effects()->InvalidateBuffer();
}

}  // namespace vexa
