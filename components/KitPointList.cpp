#include "components/KitPointList.h"

namespace vexa {

uint32_t TKitPointList::Pack(const fw::TPoint& P) {
  return (uint32_t(uint16_t(P.X)) << 16) | uint16_t(P.Y);
}

fw::TPoint TKitPointList::Unpack(uint32_t Packed) {
  return fw::TPoint{int16_t(uint16_t(Packed >> 16)), int16_t(uint16_t(Packed & 0xFFFF))};
}

void TKitPointList::GetPoint(int Index, fw::TPoint& P) const {
  if (Index > Count() - 1) return;
  P = Unpack(uint32_t(reinterpret_cast<uintptr_t>(Items(Index))));
}

void TKitPointList::PutPoint(int Index, const fw::TPoint& P) {
  if (Index > Count() - 1) return;
  Put(Index, reinterpret_cast<void*>(uintptr_t(Pack(P))));
  PointsChanged();
}

void TKitPointList::AddPoint(const fw::TPoint& P) {
  int i = Add(nullptr);
  PutPoint(i, P);
  PointsChanged();
}

void TKitPointList::PointsChanged() {
  if (FUpdateCount < 1 && OnChange) OnChange(this);
}

}  // namespace vexa
