#include "components/KitObject.h"

namespace vexa {

void TKitObject::GetDisplayString(std::string& Text) { Text.clear(); }

bool IsBlankString(const std::string& S) {
  return S.find_first_not_of(' ') == std::string::npos;
}

std::string AddTrailingBackslash(const std::string& S) {
  if (!IsBlankString(S) && S.back() == PathSeparator) return S;
  return S + PathSeparator;
}

std::string RemoveTrailingBackslash(const std::string& S) {
  if (IsBlankString(S)) return S;
  if (S.back() == PathSeparator) return S.substr(0, S.size() - 1);
  return S;
}

}  // namespace vexa
