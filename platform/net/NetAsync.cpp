// Asynchronous host lookups: a thread per request, its answer posted as a message.
#include "platform/net/NetInternal.h"

namespace plat {

using namespace net;

namespace {

HANDLE StartRequest(HWND hwnd, UINT msg, char* buf, int bufLen,
                    std::function<int(HostData*)> work) {
  State& st = St();
  HANDLE h;
  {
    std::lock_guard<std::mutex> g(st.asyncMu);
    h = st.nextRequest.load(std::memory_order_relaxed);
    st.nextRequest.store(h + 1 == 0 ? 1 : h + 1, std::memory_order_relaxed);
    AsyncRequest r;
    r.hwnd = hwnd;
    r.msg = msg;
    r.buf = buf;
    r.bufLen = bufLen;
    st.requests[h] = r;
  }
  try {
    std::thread([&st, h, work = std::move(work)]() {
      HostData d;
      int err = work(&d);
      std::lock_guard<std::mutex> g(st.asyncMu);
      auto it = st.requests.find(h);
      if (it == st.requests.end()) return;
      AsyncRequest r = it->second;
      st.requests.erase(it);
      if (r.cancelled) return;
      int need = err ? 0 : LayoutSize(d);
      if (!err && !Layout(d, r.buf, r.bufLen)) err = WSAENOBUFS;
      st.finished.push_back(h);
      while (st.finished.size() > 256) st.finished.pop_front();
      PostMessage(r.hwnd, r.msg, static_cast<WPARAM>(h),
                  WSAMAKESELECTREPLY(std::min(need, 0xFFFF), err));
    }).detach();
  } catch (...) {
    std::lock_guard<std::mutex> g(st.asyncMu);
    st.requests.erase(h);
    tLastError = WSAENOBUFS;
    return 0;
  }
  return h;
}

}  // namespace

HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT msg, const char* name, char* buf, int bufLen) {
  if (!StartedWith(name && buf && bufLen > 0)) return 0;
  std::string n = name;
  return StartRequest(hwnd, msg, buf, bufLen, [n](HostData* d) { return ResolveName(n, d); });
}

HANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT msg, const char* addr, int len, int type, char* buf,
                             int bufLen) {
  if (!StartedWith(addr && len == 4 && type == AF_INET && buf && bufLen > 0)) return 0;
  uint32_t a;
  std::memcpy(&a, addr, 4);
  return StartRequest(hwnd, msg, buf, bufLen, [a](HostData* d) { return ResolveAddr(a, d); });
}

int WSACancelAsyncRequest(HANDLE task) {
  if (!Started()) return SOCKET_ERROR;
  State& st = St();
  std::lock_guard<std::mutex> g(st.asyncMu);
  auto it = st.requests.find(task);
  if (it != st.requests.end()) {
    if (it->second.cancelled) return Fail(WSAEINVAL);
    it->second.cancelled = true;
    return 0;
  }
  auto f = std::find(st.finished.begin(), st.finished.end(), task);
  if (f != st.finished.end()) {
    st.finished.erase(f);
    return 0;
  }
  return Fail(WSAEINVAL);
}

bool WSAAsyncRequestDone(HANDLE task) {
  // The answer is laid out and posted under the same lock that takes the
  // request out of the table.
  State& st = St();
  std::lock_guard<std::mutex> g(st.asyncMu);
  return st.requests.find(task) == st.requests.end();
}

}  // namespace plat
