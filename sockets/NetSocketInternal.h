// What the files of the socket unit share among themselves; nothing outside this folder
// includes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "sockets/NetSocket.h"

namespace vexa::netsocket {

// Entry points of the socket library, looked up on first use.
enum TProcId {
  pWSAStartup, pWSACleanup, pWSASetLastError, pWSAGetLastError, pWSACancelAsyncRequest,
  pWSAAsyncGetHostByName, pWSAAsyncGetHostByAddr, pWSAAsyncSelect, pgetservbyname,
  pgetprotobyname, pgethostbyname, psocket, pshutdown, psetsockopt, psendto, psend, precv,
  precvfrom, pntohs, phtons, plisten, pioctlsocket, pinet_ntoa, pinet_addr, pgetsockname,
  pgetpeername, pconnect, pclosesocket, pbind, paccept, pWSASend, pWSAAsyncSelectPosted,
  pWSAAsyncRequestDone, pProcCount
};

// The unit's process-wide state (St()). Lock order: mu, then the platform's
// socket library (loading, starting and stopping it) and the message layer
// (window longs); hidden windows are made and destroyed outside it.
// A forked child starts with the library not loaded (the platform's is not
// started there) and no socket windows; window and client ids go on from the
// parent's numbers. Leaving the session forgets the socket windows: they were
// the session's, and their handles name other windows in the next one.
struct State {
  std::mutex mu;
  plat::HMODULE library = 0;
  plat::FARPROC procs[pProcCount] = {};
  int liveSockets = 0;
  std::map<int32_t, TCustomNetSocket*> windows;  // by the id in window long 0
  std::atomic<int32_t> nextWindowId{1};          // atomic: read unlocked by a forked child
  std::atomic<int32_t> nextClientId{1};

  State* ForChild();
  void EndSession();
};
State& St();

// Loads and starts the library once; raises when it cannot.
void LoadSocketLibrary();
plat::FARPROC GetSocketProc(TProcId Id);
// Every live socket holds the library; the last one to go unloads it.
void HoldSocketLibrary();
void DropSocketLibrary();

inline std::string IntStr(int64_t v) { return fw::IntToStr(v); }

}  // namespace vexa::netsocket

#define WS(fn)                            \
  (reinterpret_cast<decltype(&plat::fn)>( \
      ::vexa::netsocket::GetSocketProc(::vexa::netsocket::p##fn)))
