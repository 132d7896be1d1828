// Standard input of a helper program as lines, delivered on its message loop.
#pragma once

#include <sys/epoll.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/msg/Msg.h"

namespace vexa::test {

// Calls OnLine for every line that arrives on standard input; at the end of
// input the message loop is asked to quit.
inline void WatchStdinLines(std::function<void(const std::string&)> OnLine) {
  auto buffer = std::make_shared<std::string>();
  plat::WatchFd(0, EPOLLIN, [buffer, OnLine](uint32_t) {
    char chunk[4096];
    const ssize_t n = read(0, chunk, sizeof chunk);
    if (n <= 0) {
      plat::UnwatchFd(0);
      plat::PostQuitMessage(0);
      return;
    }
    buffer->append(chunk, size_t(n));
    size_t pos;
    while ((pos = buffer->find('\n')) != std::string::npos) {
      std::string line = buffer->substr(0, pos);
      buffer->erase(0, pos + 1);
      OnLine(line);
    }
  });
}

// One line of output, flushed at once so the test sees it.
inline void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace vexa::test
