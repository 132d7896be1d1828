#include "sockets/SocksProto.h"

#include <cstring>

namespace vexa {

const char* const SocksMsgRequestTooLong = "socks request too long";

namespace {

TSocksReply Fail(int Error, const std::string& Msg) {
  TSocksReply r;
  r.Step = TSocksStep::Failed;
  r.Error = Error;
  r.Msg = Msg;
  return r;
}

TSocksReply Step(TSocksStep S) {
  TSocksReply r;
  r.Step = S;
  return r;
}

}  // namespace

int SocksBuildConnect4(uint8_t* Area, uint16_t PortNet, uint32_t AddrNet,
                       const std::string& Usercode, bool Level4A, const std::string& HostName) {
  size_t need = 9 + Usercode.size() + (Level4A ? HostName.size() + 1 : 0);
  if (need > static_cast<size_t>(SocksAreaSize)) return -1;
  int n = 0;
  Area[n++] = 4;
  Area[n++] = 1;
  std::memcpy(Area + n, &PortNet, 2);
  n += 2;
  if (Level4A) AddrNet = 0x01000000;  // 0.0.0.1 in network order
  std::memcpy(Area + n, &AddrNet, 4);
  n += 4;
  std::memcpy(Area + n, Usercode.data(), Usercode.size());
  n += static_cast<int>(Usercode.size());
  Area[n++] = 0;
  if (Level4A) {
    std::memcpy(Area + n, HostName.data(), HostName.size());
    n += static_cast<int>(HostName.size());
    Area[n++] = 0;
  }
  return n;
}

int SocksBuildConnect5(uint8_t* Area, const std::string& HostName, uint16_t PortNet) {
  if (HostName.size() > 255 || 7 + HostName.size() > static_cast<size_t>(SocksAreaSize)) return -1;
  int n = 0;
  Area[n++] = 5;
  Area[n++] = 1;
  Area[n++] = 0;
  Area[n++] = 3;
  Area[n++] = static_cast<uint8_t>(HostName.size());
  std::memcpy(Area + n, HostName.data(), HostName.size());
  n += static_cast<int>(HostName.size());
  std::memcpy(Area + n, &PortNet, 2);
  n += 2;
  return n;
}

int SocksBuildAuth(uint8_t* Area, const std::string& Usercode, const std::string& Password) {
  if (Usercode.size() > 255 || Password.size() > 255 ||
      3 + Usercode.size() + Password.size() > static_cast<size_t>(SocksAreaSize))
    return -1;
  int n = 0;
  Area[n++] = 1;
  Area[n++] = static_cast<uint8_t>(Usercode.size());
  std::memcpy(Area + n, Usercode.data(), Usercode.size());
  n += static_cast<int>(Usercode.size());
  Area[n++] = static_cast<uint8_t>(Password.size());
  std::memcpy(Area + n, Password.data(), Password.size());
  n += static_cast<int>(Password.size());
  return n;
}

int SocksReplyWant(uint8_t State, bool Level5, int Count) {
  int want = (State == SocksStateConnect && !Level5) ? 8 - Count : (SocksAreaSize - 1) - Count;
  return want < 0 ? 0 : want;
}

TSocksReply SocksParseReply(uint8_t State, bool Level5, bool AuthRequested, const uint8_t* Buf,
                            int& Count) {
  if (Count < 0 || Count > SocksAreaSize) return Fail(20013, "internal error");
  switch (State) {
    case SocksStateMethod: {
      if (!Level5) return Fail(20001, "TNetSocket logic error");
      if (Count < 2) return Step(TSocksStep::NeedMore);
      Count = 0;
      if (Buf[0] != 5) return Fail(20002, "socks version error");
      if (Buf[1] == 0) {
        TSocksReply r = Step(TSocksStep::SendConnect);
        r.AuthSkipped = AuthRequested;
        return r;
      }
      if (Buf[1] == 2) return Step(TSocksStep::SendAuth);
      return Fail(20003, "authentification method not acceptable");
    }
    case SocksStateAuth: {
      if (Count >= 1 && Buf[0] != 1) return Fail(20002, "socks version error");
      if (Count > 2) return Fail(20001, "too much data availaible");
      if (Count < 2) return Step(TSocksStep::NeedMore);
      if (Buf[1] != 0) return Fail(20015, "socks authentication failed");
      Count = 0;
      TSocksReply r = Step(TSocksStep::SendConnect);
      r.AuthAccepted = true;
      return r;
    }
    case SocksStateConnect: {
      if (!Level5) {
        if (Count < 8) return Step(TSocksStep::NeedMore);
        Count = 0;
        if (Buf[0] != 0) return Fail(20002, "socks version error");
        switch (Buf[1]) {
          case 90: return Step(TSocksStep::Connected);
          case 91: return Fail(20016, "request rejected or failed");
          case 92: return Fail(20008, "connection refused");
          case 93: return Fail(20015, "authentification failed");
          default: return Fail(20012, "unassigned error #" + std::to_string(Buf[1]));
        }
      }
      if (Count >= 1 && Buf[0] != 5) return Fail(20002, "socks version error");
      if (Count >= 2 && Buf[1] != 0) {
        static const char* const texts[8] = {
            "general SOCKS server failure", "connection not allowed by ruleset",
            "network unreachable",          "host unreachable",
            "connection refused",           "time to live expired",
            "command not supported",        "address type not supported"};
        if (Buf[1] >= 1 && Buf[1] <= 8) return Fail(20003 + Buf[1], texts[Buf[1] - 1]);
        return Fail(20012, "unassigned error #" + std::to_string(Buf[1]));
      }
      if (Count < 5) return Step(TSocksStep::NeedMore);
      int len;
      if (Buf[3] == 1) {
        len = 10;
      } else if (Buf[3] == 3) {
        len = Buf[4] + 7;
      } else {
        len = 5;
      }
      // A reply that can never fit into the buffer would leave the
      // negotiation waiting for ever.
      if (len > SocksAreaSize - 1) return Fail(20013, "internal error");
      if (Count < len) return Step(TSocksStep::NeedMore);
      TSocksReply r = Step(TSocksStep::Connected);
      int portAt;
      if (Buf[3] == 1) {
        r.BoundAddr = std::to_string(Buf[4]) + "." + std::to_string(Buf[5]) + "." +
                      std::to_string(Buf[6]) + "." + std::to_string(Buf[7]);
        portAt = 8;
      } else if (Buf[3] == 3) {
        r.BoundAddr.assign(reinterpret_cast<const char*>(Buf + 5), Buf[4]);
        portAt = 5 + Buf[4];
      } else {
        return Fail(20011, "address type not supported");
      }
      r.BoundPort = std::to_string((Buf[portAt] << 8) | Buf[portAt + 1]);
      r.LeftoverPos = portAt + 2;
      r.LeftoverCount = Count - r.LeftoverPos;
      if (r.LeftoverCount < 0) r.LeftoverCount = 0;
      return r;
    }
    default:
      return Fail(20013, "internal error");
  }
}

}  // namespace vexa
