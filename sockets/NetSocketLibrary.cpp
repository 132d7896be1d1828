// The socket library binding, and the map from hidden windows to socket objects.
#include <algorithm>
#include <map>
#include <mutex>

#include "framework/ScopeGuard.h"
#include "sockets/NetSocketInternal.h"

namespace vexa {

using namespace netsocket;

// Every entry point is looked up on first use.
namespace {

const char* const kProcNames[pProcCount] = {
    "WSAStartup", "WSACleanup", "WSASetLastError", "WSAGetLastError", "WSACancelAsyncRequest",
    "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSAAsyncSelect", "getservbyname",
    "getprotobyname", "gethostbyname", "socket", "shutdown", "setsockopt", "sendto", "send",
    "recv", "recvfrom", "ntohs", "htons", "listen", "ioctlsocket", "inet_ntoa", "inet_addr",
    "getsockname", "getpeername", "connect", "closesocket", "bind", "accept", "WSASend",
    "WSAAsyncSelectPosted", "WSAAsyncRequestDone"};

const char* const kSocketLibrary = "wsock32.dll";

plat::HMODULE gLibrary = 0;
plat::FARPROC gProcs[pProcCount] = {};
int gLiveSockets = 0;

plat::FARPROC LookupProc(TProcId Id) {
  plat::FARPROC p = plat::GetProcAddress(gLibrary, kProcNames[Id]);
  if (!p) {
    throw ESocketException(std::string("Procedure ") + kProcNames[Id] + " not found in " +
                           kSocketLibrary + " Error #" + fw::IntToStr(plat::GetLastError()));
  }
  gProcs[Id] = p;
  return p;
}

}  // namespace

void netsocket::LoadSocketLibrary() {
  if (gLibrary) return;
  plat::HMODULE h = plat::LoadLibrary(kSocketLibrary);
  if (!h) {
    throw ESocketException(std::string("Unable to load ") + kSocketLibrary + " Error #" +
                           fw::IntToStr(plat::GetLastError()));
  }
  gLibrary = h;
  // A library that did not start is not kept half loaded.
  auto unload = fw::OnFailure([] {
    plat::FreeLibrary(gLibrary);
    gLibrary = 0;
    std::fill(std::begin(gProcs), std::end(gProcs), nullptr);
  });
  auto startup = reinterpret_cast<decltype(&plat::WSAStartup)>(LookupProc(pWSAStartup));
  plat::WSADATA data;
  int rc = startup(0x0101, &data);
  if (rc != 0) throw ESocketException(fw::Format("%s: WSAStartup error #%d", kSocketLibrary, rc));
}

plat::FARPROC netsocket::GetSocketProc(TProcId Id) {
  if (gProcs[Id] && gLibrary) return gProcs[Id];
  LoadSocketLibrary();
  if (gProcs[Id]) return gProcs[Id];
  return LookupProc(Id);
}

namespace {

struct TLibraryFinalizer {
  ~TLibraryFinalizer() {
    try {
      UnloadSocketLibrary();
    } catch (...) {
    }
  }
} gLibraryFinalizer;

// Hidden windows: window long 0 holds an id that maps to the socket object.
const char* const kWindowClass = "XSocketWindowClass";
std::mutex gWindowLock;
std::map<int32_t, TCustomNetSocket*>& SocketWindows() {
  static auto* m = new std::map<int32_t, TCustomNetSocket*>;
  return *m;
}
int32_t gNextWindowId = 1;

TCustomNetSocket* SocketOfWindow(plat::HWND Wnd) {
  int32_t id = plat::GetWindowLong(Wnd, 0);
  if (id == 0) return nullptr;
  std::lock_guard<std::mutex> g(gWindowLock);
  auto it = SocketWindows().find(id);
  return it == SocketWindows().end() ? nullptr : it->second;
}

}  // namespace

// Window procedure of every socket window; a friend of the socket classes.
plat::LRESULT XSocketWindowProc(plat::HWND Wnd, plat::UINT Msg, plat::WPARAM WParam,
                                plat::LPARAM LParam) {
  TCustomNetSocket* s = SocketOfWindow(Wnd);
  if (!s) return fw::HiddenWindowProc(Wnd, Msg, WParam, LParam);
  fw::TMessage m;
  m.Msg = Msg;
  m.WParam = WParam;
  m.LParam = LParam;
  m.Result = 0;
  s->WndProc(m);
  return m.Result;
}

void UnloadSocketLibrary() {
  if (gLibrary) {
    auto cleanup = reinterpret_cast<decltype(&plat::WSACleanup)>(
        gProcs[pWSACleanup] ? gProcs[pWSACleanup] : plat::GetProcAddress(gLibrary, "WSACleanup"));
    if (cleanup) cleanup();
    plat::FreeLibrary(gLibrary);
    gLibrary = 0;
    std::fill(std::begin(gProcs), std::end(gProcs), nullptr);
  }
  gLiveSockets = 0;
}

namespace netsocket {

void HoldSocketLibrary() { gLiveSockets++; }

void DropSocketLibrary() {
  if (--gLiveSockets < 1) {
    try {
      UnloadSocketLibrary();
    } catch (...) {
    }
    gLiveSockets = 0;
  }
}

}  // namespace netsocket

void TCustomNetSocket::CreateSocketWindow() {
  plat::WNDCLASS wc;
  if (!plat::GetClassInfo(kWindowClass, &wc)) {
    wc = plat::WNDCLASS();
    wc.style = 0;
    wc.lpfnWndProc = XSocketWindowProc;
    wc.cbWndExtra = 4;
    wc.lpszClassName = kWindowClass;
    if (!plat::RegisterClass(wc) && !plat::GetClassInfo(kWindowClass, &wc)) {
      FWindowHandle = 0;
      return;
    }
  }
  FWindowHandle = plat::CreateWindowEx(plat::WS_EX_TOOLWINDOW, kWindowClass, "", plat::WS_POPUP, 0,
                                       0, 0, 0, 0, 0);
  if (!FWindowHandle) return;
  {
    std::lock_guard<std::mutex> g(gWindowLock);
    FWindowId = gNextWindowId++;
    if (gNextWindowId <= 0) gNextWindowId = 1;
    SocketWindows()[FWindowId] = this;
  }
  plat::SetWindowLong(FWindowHandle, 0, FWindowId);
}

void TCustomNetSocket::DestroySocketWindow() {
  if (!FWindowHandle) return;
  plat::SetWindowLong(FWindowHandle, 0, 0);
  {
    std::lock_guard<std::mutex> g(gWindowLock);
    SocketWindows().erase(FWindowId);
  }
  plat::DestroyWindow(FWindowHandle);
  FWindowHandle = 0;
}

}  // namespace vexa
