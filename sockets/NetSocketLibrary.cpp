// The socket library binding, and the map from hidden windows to socket objects.
#include <algorithm>
#include <map>
#include <mutex>

#include "framework/ScopeGuard.h"
#include "platform/kernel/Lifecycle.h"
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

plat::StateOwner<State> gState{plat::Layer::Sockets};

// Caller holds mu.
plat::FARPROC LookupProc(State& st, TProcId Id) {
  plat::FARPROC p = plat::GetProcAddress(st.library, kProcNames[Id]);
  if (!p) {
    throw ESocketException(std::string("Procedure ") + kProcNames[Id] + " not found in " +
                           kSocketLibrary + " Error #" + fw::IntToStr(plat::GetLastError()));
  }
  st.procs[Id] = p;
  return p;
}

// Caller holds mu.
void LoadLocked(State& st) {
  if (st.library) return;
  plat::HMODULE h = plat::LoadLibrary(kSocketLibrary);
  if (!h) {
    throw ESocketException(std::string("Unable to load ") + kSocketLibrary + " Error #" +
                           fw::IntToStr(plat::GetLastError()));
  }
  st.library = h;
  // A library that did not start is not kept half loaded.
  auto unload = fw::OnFailure([&st] {
    plat::FreeLibrary(st.library);
    st.library = 0;
    std::fill(std::begin(st.procs), std::end(st.procs), nullptr);
  });
  auto startup = reinterpret_cast<decltype(&plat::WSAStartup)>(LookupProc(st, pWSAStartup));
  plat::WSADATA data;
  int rc = startup(0x0101, &data);
  if (rc != 0) throw ESocketException(fw::Format("%s: WSAStartup error #%d", kSocketLibrary, rc));
}

// Caller holds mu.
void UnloadLocked(State& st) {
  if (st.library) {
    auto cleanup = reinterpret_cast<decltype(&plat::WSACleanup)>(
        st.procs[pWSACleanup] ? st.procs[pWSACleanup]
                              : plat::GetProcAddress(st.library, "WSACleanup"));
    if (cleanup) cleanup();
    plat::FreeLibrary(st.library);
    st.library = 0;
    std::fill(std::begin(st.procs), std::end(st.procs), nullptr);
  }
  st.liveSockets = 0;
}

}  // namespace

State& netsocket::St() { return gState.Get(); }

State* State::ForChild() {
  auto* mine = new State;
  mine->nextWindowId.store(nextWindowId.load());
  mine->nextClientId.store(nextClientId.load());
  return mine;
}

void State::EndSession() {
  std::lock_guard<std::mutex> g(mu);
  windows.clear();
}

void netsocket::LoadSocketLibrary() {
  State& st = St();
  std::lock_guard<std::mutex> g(st.mu);
  LoadLocked(st);
}

plat::FARPROC netsocket::GetSocketProc(TProcId Id) {
  State& st = St();
  std::lock_guard<std::mutex> g(st.mu);
  if (st.procs[Id] && st.library) return st.procs[Id];
  LoadLocked(st);
  if (st.procs[Id]) return st.procs[Id];
  return LookupProc(st, Id);
}

namespace {

struct TLibraryFinalizer {
  ~TLibraryFinalizer() {
    if (!gState.IfMade()) return;
    try {
      UnloadSocketLibrary();
    } catch (...) {
    }
  }
} gLibraryFinalizer;

// Hidden windows: window long 0 holds an id that maps to the socket object.
const char* const kWindowClass = "XSocketWindowClass";

TCustomNetSocket* SocketOfWindow(plat::HWND Wnd) {
  int32_t id = plat::GetWindowLong(Wnd, 0);
  if (id == 0) return nullptr;
  State& st = St();
  std::lock_guard<std::mutex> g(st.mu);
  auto it = st.windows.find(id);
  return it == st.windows.end() ? nullptr : it->second;
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
  State& st = St();
  std::lock_guard<std::mutex> g(st.mu);
  UnloadLocked(st);
}

namespace netsocket {

void HoldSocketLibrary() {
  State& st = St();
  std::lock_guard<std::mutex> g(st.mu);
  st.liveSockets++;
}

void DropSocketLibrary() {
  State& st = St();
  std::lock_guard<std::mutex> g(st.mu);
  if (--st.liveSockets < 1) {
    try {
      UnloadLocked(st);
    } catch (...) {
    }
    st.liveSockets = 0;
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
    netsocket::State& st = St();
    std::lock_guard<std::mutex> g(st.mu);
    FWindowId = st.nextWindowId++;
    if (FWindowId <= 0) {
      st.nextWindowId = 2;
      FWindowId = 1;
    }
    st.windows[FWindowId] = this;
  }
  plat::SetWindowLong(FWindowHandle, 0, FWindowId);
}

void TCustomNetSocket::DestroySocketWindow() {
  if (!FWindowHandle) return;
  bool ofThisSession;
  {
    netsocket::State& st = St();
    std::lock_guard<std::mutex> g(st.mu);
    ofThisSession = st.windows.erase(FWindowId) > 0;
  }
  // A window of an ended session is gone; its handle may name another window now.
  if (ofThisSession) {
    plat::SetWindowLong(FWindowHandle, 0, 0);
    plat::DestroyWindow(FWindowHandle);
  }
  FWindowHandle = 0;
}

}  // namespace vexa
