// What the files of the socket unit share among themselves; nothing outside this folder
// includes it.
#pragma once

#include <cstdint>
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
