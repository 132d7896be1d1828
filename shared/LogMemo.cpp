#include "shared/LogMemo.h"

#include "framework/ScopeGuard.h"

namespace vexa {

void AddLogLine(fw::TStrings* Lines, const std::string& Text, int Most) {
  Lines->BeginUpdate();
  auto ended = fw::Finally([&] { Lines->EndUpdate(); });
  if (Lines->Count() > Most) {
    for (int i = 0; i < 50; ++i) Lines->Delete(0);
  }
  Lines->Add(Text);
}

}  // namespace vexa
