// The event logs the programs show in a memo: they keep their newest lines only.
#pragma once

#include <string>

#include "framework/Classes.h"

namespace vexa {

// Adds Text as the last line of Lines; when they hold more than Most lines
// already, the 50 oldest go first. The memo redraws once for both, and is left
// able to redraw even when the add fails.
void AddLogLine(fw::TStrings* Lines, const std::string& Text, int Most);

}  // namespace vexa
