// Line mode's receive buffer fed arbitrary bytes in arbitrary splits, with a
// reader that takes lines in pieces, stalls, fails or switches the mode.
// In the plain configuration every byte must come out once, in order, cut
// exactly after each line end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "sockets/LineBuffer.h"

namespace {

struct Input {
  const uint8_t* p;
  size_t n;
  size_t i = 0;
  uint8_t Next() { return i < n ? p[i++] : 0; }
  bool More() const { return i < n; }
};

class Host : public vexa::TLineHost {
public:
  Host(vexa::TLineBuffer& b, Input& in, bool plain) : FBuf(b), FIn(in), FPlain(plain) {}
  bool LineModeOn() override { return FLineMode; }
  bool DeliverLine() override {
    FCalls++;
    if (FPlain) {
      // Takes the pending line in pieces.
      std::string line;
      while (FBuf.Pending() > 0) {
        char tmp[300];
        int want = 1 + FIn.Next() % 299;
        int n = FBuf.Take(tmp, want, true);
        if (n <= 0) std::abort();
        line.append(tmp, static_cast<size_t>(n));
      }
      Lines.push_back(line);
      return true;
    }
    uint8_t action = FIn.Next();
    switch (action % 6) {
      case 0:
        return true;  // reads nothing
      case 1:
        throw std::runtime_error("handler failed");
      case 2:
        FLineMode = !FLineMode;
        return true;
      case 3:
        return false;  // no handler
      default: {
        char tmp[300];
        FBuf.Take(tmp, 1 + FIn.Next() % 299, FLineMode);
        return true;
      }
    }
  }
  void EchoBytes(const char* Data, int Len) override {
    if (Len < 0 || (Len > 0 && !Data)) std::abort();
    Echoed += static_cast<size_t>(Len);
  }
  void EchoText(const std::string& Text) override { Echoed += Text.size(); }
  // Now and then lines wait for a later round; never once the input is used up.
  bool MayDeliverLine() override { return !FIn.More() || FIn.Next() % 4 != 0; }
  void LineLimitExceeded(int RcvdLength, bool& ClearData) override {
    if (RcvdLength != FBuf.Held()) std::abort();
    ClearData = FPlain ? true : (FIn.Next() & 1);
  }

  std::vector<std::string> Lines;
  size_t Echoed = 0;
  bool FLineMode = true;
  int FCalls = 0;

private:
  vexa::TLineBuffer& FBuf;
  Input& FIn;
  bool FPlain;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const uint8_t config = in.Next();
  const bool plain = (config & 1) == 0;
  const std::string lineEnd = (config & 2) ? std::string("\r\n") : std::string(1, '\n');
  const bool edit = !plain && (config & 4);
  const bool echo = (config & 8) != 0;
  const int limit = plain ? 0 : (config & 16) ? 40 : 0;

  vexa::TLineBuffer buf;
  Host host(buf, in, plain);
  std::string fed;
  int rounds = 0;
  while (in.More() && rounds++ < 200) {
    int len = in.Next() % 64;
    std::string chunk;
    for (int k = 0; k < len && in.More(); k++) chunk += static_cast<char>(in.Next());
    fed += chunk;
    char* at = buf.PrepareAppend(static_cast<int>(chunk.size()));
    std::memcpy(at, chunk.data(), chunk.size());
    try {
      buf.Process(host, static_cast<int>(chunk.size()), lineEnd, limit, edit, echo,
                  (config & 32) != 0);
    } catch (const std::runtime_error&) {
    }
    if (buf.Held() < 0 || buf.Pending() < 0 || buf.Pending() > buf.Held()) std::abort();
  }

  if (plain) {
    while (buf.Process(host, 0, lineEnd, limit, edit, echo)) {
    }
    if (echo && host.Echoed != fed.size()) std::abort();
    // Every line ends with the line end and holds no earlier one.
    std::string out;
    for (auto& l : host.Lines) {
      if (l.size() < lineEnd.size() ||
          l.compare(l.size() - lineEnd.size(), lineEnd.size(), lineEnd) != 0)
        std::abort();
      if (l.find(lineEnd) != l.size() - lineEnd.size()) std::abort();
      out += l;
    }
    // What is left is the unfinished tail.
    std::string rest;
    char tmp[256];
    int n;
    while ((n = buf.Take(tmp, sizeof tmp, false)) > 0) rest.append(tmp, static_cast<size_t>(n));
    if (rest.find(lineEnd) != std::string::npos) std::abort();
    if (out + rest != fed) std::abort();
  } else {
    try {
      buf.DeliverRest(host, (config & 64) ? lineEnd : std::string());
    } catch (const std::runtime_error&) {
    }
    if (buf.Held() != 0) std::abort();
  }
  return 0;
}
