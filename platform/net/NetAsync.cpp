// Asynchronous host lookups: a thread per request, its answer posted as a message.
#include "platform/net/NetInternal.h"

namespace plat {

using namespace net;

namespace {

// Asynchronous requests.

struct AsyncRequest {
  HWND hwnd = 0;
  UINT msg = 0;
  char* buf = nullptr;
  int bufLen = 0;
  bool cancelled = false;
};

std::mutex gAsyncLock;
std::map<HANDLE, AsyncRequest>& Requests() {
  static auto* m = new std::map<HANDLE, AsyncRequest>;
  return *m;
}
// Finished requests whose message may not have been handled yet; cancelling
// one of them still succeeds (its message then matches no live request).
std::deque<HANDLE>& Finished() {
  static auto* d = new std::deque<HANDLE>;
  return *d;
}
HANDLE gNextRequest = 1;

HANDLE StartRequest(HWND hwnd, UINT msg, char* buf, int bufLen,
                    std::function<int(HostData*)> work) {
  HANDLE h;
  {
    std::lock_guard<std::mutex> g(gAsyncLock);
    h = gNextRequest++;
    if (gNextRequest == 0) gNextRequest = 1;
    AsyncRequest r;
    r.hwnd = hwnd;
    r.msg = msg;
    r.buf = buf;
    r.bufLen = bufLen;
    Requests()[h] = r;
  }
  try {
    std::thread([h, work = std::move(work)]() {
      HostData d;
      int err = work(&d);
      std::lock_guard<std::mutex> g(gAsyncLock);
      auto it = Requests().find(h);
      if (it == Requests().end()) return;
      AsyncRequest r = it->second;
      Requests().erase(it);
      if (r.cancelled) return;
      int need = err ? 0 : LayoutSize(d);
      if (!err && !Layout(d, r.buf, r.bufLen)) err = WSAENOBUFS;
      Finished().push_back(h);
      while (Finished().size() > 256) Finished().pop_front();
      PostMessage(r.hwnd, r.msg, static_cast<WPARAM>(h),
                  WSAMAKESELECTREPLY(std::min(need, 0xFFFF), err));
    }).detach();
  } catch (...) {
    std::lock_guard<std::mutex> g(gAsyncLock);
    Requests().erase(h);
    tLastError = WSAENOBUFS;
    return 0;
  }
  return h;
}

}  // namespace

HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int bufLen) {
  if (!Started()) return 0;
  if (!name || !buf || bufLen <= 0) {
    tLastError = WSAEFAULT;
    return 0;
  }
  std::string n = name;
  return StartRequest(hwnd, msg, buf, bufLen, [n](HostData* d) { return ResolveName(n, d); });
}

HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type, char* buf,
                             int bufLen) {
  if (!Started()) return 0;
  if (!addr || len != 4 || type != AF_INET || !buf || bufLen <= 0) {
    tLastError = WSAEFAULT;
    return 0;
  }
  uint32_t a;
  std::memcpy(&a, addr, 4);
  return StartRequest(hwnd, msg, buf, bufLen, [a](HostData* d) { return ResolveAddr(a, d); });
}

int WSACancelAsyncRequest(HANDLE task) {
  if (!Started()) return SOCKET_ERROR;
  std::lock_guard<std::mutex> g(gAsyncLock);
  auto it = Requests().find(task);
  if (it != Requests().end()) {
    if (it->second.cancelled) return Fail(WSAEINVAL);
    it->second.cancelled = true;
    return 0;
  }
  auto f = std::find(Finished().begin(), Finished().end(), task);
  if (f != Finished().end()) {
    Finished().erase(f);
    return 0;
  }
  return Fail(WSAEINVAL);
}

bool WSAAsyncRequestDone(HANDLE task) {
  // The answer is laid out and posted under the same lock that takes the
  // request out of the table.
  std::lock_guard<std::mutex> g(gAsyncLock);
  return Requests().find(task) == Requests().end();
}

}  // namespace plat
