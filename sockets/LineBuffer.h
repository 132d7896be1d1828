// The receive buffer of line mode: collects received bytes, cuts them at the
// line end and hands one line at a time to the socket's owner, with the
// optional limit on an unfinished line, echo and terminal-style editing.
// It knows nothing of sockets: the socket passes itself in as the host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexa {

// What the buffer calls back while it works.
class TLineHost {
public:
  virtual ~TLineHost() = default;
  virtual bool LineModeOn() = 0;
  // Offers the pending line to the owner; false when no handler took it.
  virtual bool DeliverLine() = 0;
  // Echo of received bytes (Send) and of edit responses (SendStr).
  virtual void EchoBytes(const char* Data, int Len) = 0;
  virtual void EchoText(const std::string& Text) = 0;
  virtual void LineLimitExceeded(int RcvdLength, bool& ClearData) = 0;
  // Asked before each complete line is offered; false holds that line and
  // those behind it until the next Process.
  virtual bool MayDeliverLine() { return true; }
};

class TLineBuffer {
public:
  int Held() const { return FHeld; }
  int Pending() const { return FPending; }
  bool Busy() const { return FBusy > 0; }

  // Makes room for Count more bytes behind the held ones and returns where
  // they go (the buffer grows to exactly Held + Count + 1 when smaller).
  char* PrepareAppend(int Count);
  // Takes N bytes written at the PrepareAppend area: echo or editing, then the
  // lines found are delivered one by one. With Rescan the search starts at the
  // front (held bytes seen again in a new mode). True when the host held
  // complete lines back (MayDeliverLine); the limit is then not checked.
  bool Process(TLineHost& Host, int N, const std::string& LineEnd, int LineLimit, bool Edit,
               bool Echo, bool Rescan = false);
  // At session close: the complete lines held are delivered one by one (cut at
  // LineEnd unless it is empty), the rest as one last line, then everything
  // is dropped.
  void DeliverRest(TLineHost& Host, const std::string& LineEnd = std::string());
  // Hands out bytes to a reader: in line mode from the pending line, else from
  // the held bytes. -1 when there is nothing of this buffer to hand out.
  int Take(char* Buf, int Size, bool LineMode);
  // Forgets every byte (and stops any delivery in progress).
  void Clear();
  // Leaves line delivery: a pending line becomes plain held bytes.
  void EndPending() { FPending = 0; }

private:
  enum class TOffer { Consumed, Stalled, ModeOff, Cleared };
  enum class TCut { Done, HeldBack, Ended };
  // Delivers the complete lines found from Start on; Ended: the buffer was
  // cleared or line mode went off meanwhile.
  TCut CutLines(TLineHost& Host, int Gen, const std::string& LineEnd, int Start, bool MayHold);
  // Offers the pending line until it is consumed (or dropped because no
  // handler takes it), line mode goes off, the owner stops reading, or the
  // buffer is cleared meanwhile.
  TOffer OfferPending(TLineHost& Host, int Gen);
  bool ApplyLineEdit(TLineHost& Host, int& Len, int Gen, bool Echo);
  void RemoveFront(int N);
  // Forgets every byte and stops a delivery in progress, leaving the storage
  // as it is: a handler that closed the session may still read its line there.
  void Forget();
  // Moves the held bytes (and Extra bytes behind them) back to the start of
  // the storage.
  void Compact(int Extra = 0);
  // The held bytes start FOff bytes into the storage: taking a line moves the
  // start instead of the rest, and the gap is closed once per read.
  char* Data() { return FBuf.data() + FOff; }

  std::vector<char> FBuf;
  int FOff = 0;
  int FHeld = 0;
  int FPending = 0;
  int FSkipTo = 0;  // a line the owner did not take is not searched again
  bool FHeldBack = false;  // the last Process held complete lines back
  int FGen = 0;     // changes whenever the content is dropped
  int FBusy = 0;
};

}  // namespace vexa
