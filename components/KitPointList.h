// The points of a polygon shape. Each item is one point packed into 32 bits:
// X in the high 16 bits, Y in the low 16 bits, both signed.
#pragma once

#include <cstdint>

#include "framework/Classes.h"
#include "framework/Controls.h"

namespace vexa {

class TKitPointList : public fw::TList {
public:
  TKitPointList() = default;

  // Leaves P as it was for an index beyond the last item; a negative index
  // raises the list's index error.
  void GetPoint(int Index, fw::TPoint& P) const;
  // Nothing for an index beyond the last item.
  void PutPoint(int Index, const fw::TPoint& P);
  // Appends the point; the change event fires twice.
  void AddPoint(const fw::TPoint& P);
  // OnChange unless an update is in progress.
  void PointsChanged();

  static uint32_t Pack(const fw::TPoint& P);
  static fw::TPoint Unpack(uint32_t Packed);

  int32_t UpdateCount() const { return FUpdateCount; }

  fw::TNotifyEvent OnChange;

private:
  int32_t FUpdateCount = 0;
};

}  // namespace vexa
