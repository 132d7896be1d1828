// The message-layer peer program as the cross-process tests drive it: started,
// its two windows read from its first line, window numbers written as it reads them.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/msg/Msg.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSession.h"

namespace vexa::test {

struct Peer {
  std::unique_ptr<ChildProcess> proc;
  plat::HWND top = 0;
  plat::HWND child = 0;
};

inline Peer StartPeer(const std::vector<std::string>& env = {}) {
  Peer p;
  p.proc = std::make_unique<ChildProcess>(BinPath("MsgPeer"), std::vector<std::string>{}, env);
  auto line = p.proc->WaitForLine("HWND ", std::chrono::seconds(10));
  if (line) sscanf(line->c_str(), "HWND %X %X", &p.top, &p.child);
  return p;
}

inline std::string Hex(plat::HWND h) {
  char buf[16];
  snprintf(buf, sizeof buf, "%X", h);
  return buf;
}

}  // namespace vexa::test
