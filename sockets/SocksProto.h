// SOCKS 4, 4A and 5 client messages: building the requests in the fixed
// 128-byte area and reading the server's replies. Pure byte work with no socket
// behind it, so that the socket layer and the fuzz target share it.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

// Size of the request area and of the reply buffer.
constexpr int SocksAreaSize = 128;

// Code given when a request would not fit into the request area.
constexpr int SocksErrRequestTooLong = 20014;
extern const char* const SocksMsgRequestTooLong;

// Connect request of level 4 (or 4A: address 0.0.0.1 and the host name after
// the user code). PortNet and AddrNet are in network order. Returns the request
// length, or -1 when the values do not fit into the area.
int SocksBuildConnect4(uint8_t* Area, uint16_t PortNet, uint32_t AddrNet,
                       const std::string& Usercode, bool Level4A, const std::string& HostName);
// Connect request of level 5 by domain name; -1 when it does not fit (or the
// name is longer than one length byte can say).
int SocksBuildConnect5(uint8_t* Area, const std::string& HostName, uint16_t PortNet);
// User/password sub-negotiation; -1 when it does not fit.
int SocksBuildAuth(uint8_t* Area, const std::string& Usercode, const std::string& Password);

// SOCKS negotiation states.
constexpr uint8_t SocksStateNone = 0;
constexpr uint8_t SocksStateMethod = 1;
constexpr uint8_t SocksStateAuth = 2;
constexpr uint8_t SocksStateConnect = 3;

// How many more bytes to read into the reply buffer holding Count bytes.
int SocksReplyWant(uint8_t State, bool Level5, int Count);

enum class TSocksStep {
  NeedMore,     // wait for more bytes
  SendConnect,  // the method or the authentication was accepted: send the connect request
  SendAuth,     // the server wants user/password
  Connected,    // the connection stands; leftover bytes follow the reply
  Failed        // Error and Msg say why
};

struct TSocksReply {
  TSocksStep Step = TSocksStep::NeedMore;
  int Error = 0;
  std::string Msg;
  bool AuthSkipped = false;   // SendConnect after asking for user/password in vain
  bool AuthAccepted = false;  // SendConnect after a successful sub-negotiation
  std::string BoundAddr;      // level 5
  std::string BoundPort;      // level 5
  int LeftoverPos = 0;        // start of bytes received behind the reply
  int LeftoverCount = 0;
};

// Reads the reply buffer (Count bytes) in the given state. Count is updated
// where the negotiation restarts it. Never reads outside Buf[0 .. Count-1];
// Count must be at most SocksAreaSize.
TSocksReply SocksParseReply(uint8_t State, bool Level5, bool AuthRequested, const uint8_t* Buf,
                            int& Count);

}  // namespace vexa
