#include "sockets/LineBuffer.h"

#include <algorithm>
#include <cstring>

#include "framework/ScopeGuard.h"

namespace vexa {

namespace {
struct TBusyGuard {
  int& Depth;
  explicit TBusyGuard(int& d) : Depth(d) { ++Depth; }
  ~TBusyGuard() { --Depth; }
};
}  // namespace

void TLineBuffer::Compact(int Extra) {
  if (FOff == 0) return;
  std::memmove(FBuf.data(), FBuf.data() + FOff, static_cast<size_t>(FHeld) + Extra + 1);
  FOff = 0;
}

char* TLineBuffer::PrepareAppend(int Count) {
  if (Count < 0) Count = 0;
  Compact();
  size_t need = static_cast<size_t>(FHeld) + static_cast<size_t>(Count) + 1;
  if (FBuf.size() < need) FBuf.resize(need);
  return FBuf.data() + FHeld;
}

void TLineBuffer::RemoveFront(int N) {
  if (N <= 0) return;
  if (N > FHeld) N = FHeld;
  FOff += N;
  FHeld -= N;
  FPending = std::max(0, FPending - N);
  FSkipTo = std::max(0, FSkipTo - N);
  if (FHeld == 0) FOff = 0;
  Data()[FHeld] = 0;
}

void TLineBuffer::Forget() {
  FOff = 0;
  FHeld = 0;
  FPending = 0;
  FSkipTo = 0;
  FHeldBack = false;
  FGen++;
}

void TLineBuffer::Clear() {
  Forget();
  if (!FBuf.empty()) FBuf[0] = 0;
  if (FBusy == 0) std::vector<char>().swap(FBuf);
}

int TLineBuffer::Take(char* Buf, int Size, bool LineMode) {
  int avail;
  if (LineMode && FPending > 0) {
    avail = FPending;
  } else if (!LineMode && FHeld > 0) {
    avail = FHeld;
    FPending = 0;
  } else {
    return -1;
  }
  int n = std::min(std::max(Size, 0), avail);
  if (n > 0) {
    std::memcpy(Buf, Data(), static_cast<size_t>(n));
    RemoveFront(n);
  }
  return n;
}

TLineBuffer::TOffer TLineBuffer::OfferPending(TLineHost& Host, int Gen) {
  while (FPending > 0) {
    if (!Host.LineModeOn()) return TOffer::ModeOff;
    int before = FPending;
    bool taken;
    {
      // The line stays held and goes out in front of the next complete one.
      auto undo = fw::OnFailure([&] {
        if (FGen == Gen) {
          FSkipTo = FPending;
          FPending = 0;
        }
      });
      taken = Host.DeliverLine();
    }
    if (FGen != Gen) return TOffer::Cleared;
    if (!taken) {
      RemoveFront(FPending);  // nobody wants it: dropped
      FPending = 0;
      break;
    }
    if (FPending == before && Host.LineModeOn()) {
      // The owner read nothing; offering the same line again would never end.
      FSkipTo = FPending;
      FPending = 0;
      return TOffer::Stalled;
    }
  }
  return Host.LineModeOn() ? TOffer::Consumed : TOffer::ModeOff;
}

TLineBuffer::TCut TLineBuffer::CutLines(TLineHost& Host, int Gen, const std::string& LineEnd,
                                        int Start, bool MayHold) {
  const int L = static_cast<int>(LineEnd.size());
  while (L > 0) {
    if (!Host.LineModeOn()) {
      FPending = 0;
      return TCut::Ended;
    }
    int found = -1;
    for (int i = Start; i + L <= FHeld; i++) {
      if (std::memcmp(Data() + i, LineEnd.data(), static_cast<size_t>(L)) == 0) {
        found = i;
        break;
      }
    }
    if (found < 0) break;
    if (MayHold && !Host.MayDeliverLine()) return TCut::HeldBack;
    FPending = found + L;
    TOffer r = OfferPending(Host, Gen);
    if (r == TOffer::Cleared) return TCut::Ended;
    if (r == TOffer::ModeOff) {
      FPending = 0;
      return TCut::Ended;
    }
    if (r == TOffer::Stalled) break;
    FPending = 0;
    Data()[FHeld] = 0;
    Start = FSkipTo;
  }
  if (!Host.LineModeOn()) {
    FPending = 0;
    return TCut::Ended;
  }
  return TCut::Done;
}

bool TLineBuffer::Process(TLineHost& Host, int N, const std::string& LineEnd, int LineLimit,
                          bool Edit, bool Echo, bool Rescan) {
  TBusyGuard busy(FBusy);
  const int gen = FGen;
  const int L = static_cast<int>(LineEnd.size());
  if (N < 0) N = 0;
  if (static_cast<size_t>(FOff) + FHeld + static_cast<size_t>(N) + 1 > FBuf.size()) return false;
  Compact(N);  // normally done already by PrepareAppend
  Data()[FHeld + N] = 0;
  if (N > 0) {
    if (Edit) {
      if (!ApplyLineEdit(Host, N, gen, Echo)) return false;
    } else if (Echo) {
      std::string copy(Data() + FHeld, static_cast<size_t>(N));
      Host.EchoBytes(copy.data(), N);
      if (FGen != gen) return false;
    }
  }
  int old = FHeld;
  FHeld = old + N;
  Data()[FHeld] = 0;
  // Lines held back last time are searched again; else only the new bytes.
  int start = Rescan || FHeldBack ? FSkipTo : std::max({0, old - L, FSkipTo});
  TCut cut = CutLines(Host, gen, LineEnd, start, true);
  FHeldBack = cut == TCut::HeldBack;
  if (cut == TCut::Ended) return false;
  // Held lines are complete: they are no unfinished line to measure.
  if (FHeldBack) return true;
  if (LineLimit > 0 && FHeld > LineLimit) {
    bool clear = true;
    Host.LineLimitExceeded(FHeld, clear);
    if (FGen != gen) return false;
    if (clear) {
      FOff = 0;
      FHeld = 0;
      FPending = 0;
      FSkipTo = 0;
      FBuf[0] = 0;
    }
  }
  return false;
}

void TLineBuffer::DeliverRest(TLineHost& Host, const std::string& LineEnd) {
  if (FBusy == 0 && FHeld > 0 && Host.LineModeOn()) {
    const int gen = FGen;
    auto undo = fw::OnFailure([&] { Clear(); });
    TBusyGuard busy(FBusy);
    if (LineEnd.empty() || CutLines(Host, gen, LineEnd, FSkipTo, false) == TCut::Done) {
      if (FHeld > 0) {
        FPending = FHeld;
        OfferPending(Host, gen);
      }
    }
  }
  if (FBusy == 0) {
    Clear();
  } else {
    // Closed from inside a delivery: the running delivery stops.
    Forget();
  }
}

bool TLineBuffer::ApplyLineEdit(TLineHost& Host, int& Len, int Gen, bool Echo) {
  const int held = FHeld;
  int w = held;
  int m = held;
  bool editing = false;
  std::vector<char> work;
  auto startEdit = [&](int upTo) {
    if (editing) return;
    editing = true;
    size_t size = ((static_cast<size_t>(held) + Len + 256) / 256) * 256;
    work.resize(std::max(size, static_cast<size_t>(upTo) + 1));
    std::memcpy(work.data(), FBuf.data(), static_cast<size_t>(upTo));
  };
  auto put = [&](char c) {
    if (static_cast<size_t>(w) >= work.size()) work.resize(work.size() + 256);
    work[w++] = c;
  };
  for (int j = held; j < held + Len; j++) {
    char c = FBuf[j];
    if (c == 8) {
      if (Echo && w > 0) {
        Host.EchoText(std::string("\b \b"));
        if (FGen != Gen) return false;
      }
      startEdit(w);
      if (w > 0) {
        w--;
        m = std::min(m, w);
      }
    } else if (c == 9) {
      startEdit(w);
      do {
        put(' ');
        if (Echo) {
          Host.EchoText(std::string(" "));
          if (FGen != Gen) return false;
        }
      } while (w % 8 != 0);
    } else {
      if (Echo) {
        Host.EchoBytes(&c, 1);
        if (FGen != Gen) return false;
      }
      if (editing) put(c);
      else w++;
    }
  }
  if (!editing) return true;
  if (FBuf.size() < static_cast<size_t>(w) + 1) FBuf.resize(static_cast<size_t>(w) + 1);
  std::memcpy(FBuf.data(), work.data(), static_cast<size_t>(w));
  FBuf[w] = 0;
  FHeld = m;
  FSkipTo = std::min(FSkipTo, m);
  Len = w - m;
  return true;
}

}  // namespace vexa
