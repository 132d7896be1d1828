// The settings store's text form on its own, for checks of the parser: reads
// text as the store does (skipping what is not sound) and writes it back in
// the store's own form.
#pragma once

#include <string>

namespace plat {

std::string NormalizeStoreText(const std::string& text, const std::string& rootName);

}  // namespace plat
