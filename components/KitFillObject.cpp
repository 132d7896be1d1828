#include "components/KitFillObject.h"

#include "components/KitDrawing.h"
#include "components/kitsysin.h"

namespace vexa {

TKitFillObject::TKitFillObject() : FBrush(std::make_unique<fw::TBrush>()) {
  FBrush->OnChange = [this](fw::TObject* S) { SubObjectChanged(S); };
  BeginUpdate();
  FStyle = sfNone;
  EndUpdate(false);
}

TKitFillObject::~TKitFillObject() { FBrush->OnChange = nullptr; }

void TKitFillObject::Assign(fw::TPersistent* Source) {
  auto* s = KitAssignSource(this, Source, [&] { TKitShapeFill::Assign(Source); });
  if (!s) return;
  BeginUpdate();
  FBrush->Assign(s->FBrush.get());
  FOptions = s->FOptions;
  FBitmap->Assign(s->FBitmap.get());
  FListBitmap->Assign(s->FListBitmap.get());
  FGradient->Assign(s->FGradient.get());
  SetStyle(s->FStyle);
  SetTileMode(s->FTileMode);
  EndUpdate(true);
}

void TKitFillObject::FillBackground(fw::TCanvas* Canvas, const fw::TRect& Rect,
                                    fw::TColor BackColor) {
  if (!FOptions.Contains(foFillInner)) return;
  Canvas->Brush()->SetStyle(fw::bsSolid);
  Canvas->Brush()->SetColor(BackColor);
  Canvas->FillRect(Rect);
}

bool TKitFillObject::FillArea(fw::TCanvas* Canvas, const fw::TRect& Rect, fw::TColor BackColor) {
  if (!Canvas) return false;
  switch (FStyle) {
    case sfNone: return false;
    case sfBrushBitmap: {
      std::unique_ptr<fw::TBitmap> corner;
      struct Reset {
        fw::TCanvas* C;
        ~Reset() { C->Brush()->SetBitmap(nullptr); }
      } reset{Canvas};
      if (!FBitmap->Empty()) {
        if (IsWindowsNT) {
          Canvas->Brush()->SetBitmap(FBitmap.get());
        } else {
          // Other platforms take only an 8 x 8 pattern.
          corner = std::make_unique<fw::TBitmap>();
          corner->SetSize(8, 8);
          corner->Canvas()->CopyRect(fw::TRect{0, 0, 8, 8}, FBitmap->Canvas(),
                                     fw::TRect{0, 0, 8, 8});
          Canvas->Brush()->SetBitmap(corner.get());
        }
      }
      Canvas->FillRect(Rect);
      return true;
    }
    case sfBrush:
      Canvas->Brush()->Assign(FBrush.get());
      Canvas->Pen()->SetColor(BackColor);
      if (FBrush->Style() != fw::bsSolid)
        plat::SetBkColor(Canvas->Handle(), fw::ColorToRGB(BackColor));
      Canvas->FillRect(Rect);
      return true;
    case sfBitmap:
    case sfBitmapList: {
      fw::TBitmap* picture = FStyle == sfBitmap ? FBitmap.get() : FListBitmap.get();
      if (picture->Empty()) {
        FillBackground(Canvas, Rect, BackColor);
        return false;
      }
      const uint32_t flags = FOptions.Contains(foQuickDraw) ? 0 : kdPalette;
      fw::TRect covered;
      switch (FTileMode) {
        case tmNone: {
          FillBackground(Canvas, Rect, BackColor);
          fw::TRect box;
          KitAlignRect(FAlignment, fw::TRect{0, 0, picture->Width(), picture->Height()}, Rect, box);
          box.Left += FOffsetX;
          box.Right += FOffsetX;
          box.Top += FOffsetY;
          box.Bottom += FOffsetY;
          KitDrawBitmapEx(Canvas, box, picture, covered, 0, flags);
          break;
        }
        case tmCenter:
          FillBackground(Canvas, Rect, BackColor);
          KitDrawBitmapEx(Canvas, Rect, picture, covered, 0, flags | kdCenter);
          break;
        case tmStretch:
          KitDrawBitmapEx(Canvas, Rect, picture, covered, 0, flags | kdStretch);
          break;
        case tmTile: KitDrawBitmapEx(Canvas, Rect, picture, covered, 0, flags | kdTile); break;
      }
      return true;
    }
    case sfGradient: {
      uint32_t flags = FOptions.Contains(foGrUseBitmap) ? kdGradBitmap : 0;
      if (FGradient->PaletteRealize()) flags |= kdPalette;
      KitFillGradient(Canvas, Rect, FGradient->Style(), 0, flags, FGradient->GetPalette(),
                      FGradient->ColorList());
      return true;
    }
  }
  return false;
}

}  // namespace vexa
