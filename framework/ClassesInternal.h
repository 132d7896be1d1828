// What the files of the Classes unit share among themselves; nothing else includes it.
#pragma once

#include <algorithm>
#include <iterator>
#include <vector>

namespace fw {

// Searched from the back: components are freed last first, so the one to
// erase is usually the last and freeing many stays linear.
template <class T>
bool EraseOne(std::vector<T*>& v, T* item) {
  auto it = std::find(v.rbegin(), v.rend(), item);
  if (it == v.rend()) return false;
  v.erase(std::next(it).base());
  return true;
}

}  // namespace fw
