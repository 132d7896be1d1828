// What the files of the region unit share among themselves; nothing else includes it.
#pragma once

#include <cmath>
#include <vector>

#include "components/kitregion.h"

namespace vexa::kitregion {

using plat::HRGN;

// The corners of the polygon shapes (star, diamond, octagon, comb) drawn in R,
// in the order their border is painted; none for any other shape.
std::vector<plat::POINT> ShapeOutline(TKitRegionShape Shape, const fw::TRect& R);

inline int32_t RoundEven(double v) { return int32_t(std::nearbyint(v)); }

// dst := dst op src, then src is deleted.
inline void Combine(HRGN dst, HRGN src, int mode) {
  plat::CombineRgn(dst, dst, src, mode);
  plat::DeleteObject(src);
}

}  // namespace vexa::kitregion
