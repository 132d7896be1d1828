// The socket table, and readiness turned into the messages WSAAsyncSelect asked for.
#include "platform/net/NetInternal.h"
#include "platform/kernel/Lifecycle.h"

namespace plat::net {

namespace {
StateOwner<State> gState{Layer::Net};
}  // namespace

State& St() { return gState.Get(); }

// Only this thread came along; sockMu is held since prepare.
State* State::ForChild() {
  for (auto& [h, s] : socks) ::close(s->fd);
  auto* mine = new State;
  mine->nextHandle = nextHandle;
  mine->nextRequest.store(nextRequest.load());
  return mine;
}

void State::EndSession() {
  {
    std::lock_guard<std::mutex> g(sockMu);
    for (auto& [h, s] : socks) {
      // The fd is only watched by its owner's queue; from another thread this does nothing.
      if (s->isWatched) UnwatchFd(s->fd);
      s->isWatched = false;
      s->watched = 0;
      s->hwnd = 0;
      s->mask = 0;
    }
  }
  std::lock_guard<std::mutex> g(asyncMu);
  for (auto& [h, r] : requests) r.cancelled = true;
  finished.clear();
}

std::shared_ptr<Sock> Find(SOCKET s) {
  State& st = St();
  std::lock_guard<std::mutex> g(st.sockMu);
  auto it = st.socks.find(s);
  if (it == st.socks.end()) return nullptr;
  return it->second;
}

std::shared_ptr<Sock> Lookup(SOCKET s) {
  if (!Started()) return nullptr;
  auto p = Find(s);
  if (!p) tLastError = WSAENOTSOCK;
  return p;
}

SOCKET AddSock(std::shared_ptr<Sock> s) {
  State& st = St();
  std::lock_guard<std::mutex> g(st.sockMu);
  for (;;) {
    SOCKET h = st.nextHandle;
    st.nextHandle = (st.nextHandle >= 0x7FFFFFF0) ? 0x100 : st.nextHandle + 1;
    if (!st.socks.count(h)) {
      st.socks[h] = std::move(s);
      return h;
    }
  }
}

void Post(Sock& s, SOCKET h, int32_t event, int32_t error) {
  if (!s.hwnd || !(s.mask & event)) return;
  s.posted |= event & (FD_CONNECT | FD_CLOSE);  // before the message can be seen
  PostMessage(s.hwnd, s.msg, h, WSAMAKESELECTREPLY(event, error));
}

int PendingBytes(int fd) {
  int n = 0;
  if (::ioctl(fd, sys::kFionRead, &n) != 0) return -1;
  return n;
}

int SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, sys::kSolSocket, sys::kSoError, &err, &len) != 0) return errno;
  return err;
}

namespace {

void NetSocketReady(SOCKET h, uint32_t ready) {
  State& st = St();
  std::lock_guard<std::mutex> g(st.sockMu);
  auto it = st.socks.find(h);
  if (it == st.socks.end()) return;
  Evaluate(h, *it->second, ready);
  Refresh(h, *it->second);
}

}  // namespace

// Registers with the owning thread's queue exactly the readiness that could
// lead to a message now.
void Refresh(SOCKET h, Sock& s) {
  uint32_t ev = 0;
  if (s.hwnd && s.mask) {
    if (s.connectPending) {
      ev |= EPOLLOUT;
    } else if (s.listening) {
      if ((s.mask & FD_ACCEPT) && !s.acceptPosted) ev |= EPOLLIN;
    } else if (s.connected) {
      if (!s.peerClosed) {
        if ((s.mask & FD_READ) && !s.readPosted) ev |= EPOLLIN;
        // Posted but not read yet: only fresh data is of interest (edge).
        if ((s.mask & FD_READ) && s.readPosted) ev |= EPOLLIN | EPOLLET;
        if ((s.mask & FD_CLOSE) && s.type == SOCK_STREAM) ev |= EPOLLRDHUP;
      }
      if (s.writeArmed && (s.mask & FD_WRITE)) ev |= EPOLLOUT;
    }
  }
  if (ev == 0) {
    if (s.isWatched) {
      UnwatchFd(s.fd);
      s.isWatched = false;
      s.watched = 0;
    }
    return;
  }
  if (s.isWatched) {
    if (s.watched != ev) {
      ModifyFd(s.fd, ev);
      s.watched = ev;
    }
    return;
  }
  int fd = s.fd;
  bool ok = WatchFd(fd, ev, [h](uint32_t ready) { NetSocketReady(h, ready); });
  if (ok) {
    s.isWatched = true;
    s.watched = ev;
  }
}

// Turns readiness into the messages of asynchronous selection.
void Evaluate(SOCKET h, Sock& s, uint32_t ready) {
  if (s.connectPending) {
    if (ready & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
      int err = SocketError(s.fd);
      s.connectPending = false;
      if (err == 0) {
        s.connected = true;
        Post(s, h, FD_CONNECT, 0);
        Post(s, h, FD_WRITE, 0);
      } else {
        Post(s, h, FD_CONNECT, WSAErrorFromErrno(err));
      }
    }
    return;
  }
  if (s.listening) {
    if ((ready & EPOLLIN) && (s.mask & FD_ACCEPT) && !s.acceptPosted) {
      s.acceptPosted = true;
      Post(s, h, FD_ACCEPT, 0);
    }
    return;
  }
  if (!s.connected) return;
  if ((ready & EPOLLIN) && (s.mask & FD_READ) && s.readPosted && !s.peerClosed) {
    // New data behind an unread notification (say, a reader that failed
    // before reading): announced once more so the connection does not stall.
    int n = PendingBytes(s.fd);
    if (n > s.readAvailAtPost) {
      s.readAvailAtPost = n;
      Post(s, h, FD_READ, 0);
    }
  } else if ((ready & EPOLLIN) && (s.mask & FD_READ) && !s.readPosted && !s.peerClosed) {
    int n = PendingBytes(s.fd);
    if (n > 0) {
      s.readPosted = true;
      s.readAvailAtPost = n;
      Post(s, h, FD_READ, 0);
    } else if (s.type == SOCK_STREAM && !(ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR))) {
      // Readable with nothing to read and no close seen: end of stream.
      ready |= EPOLLRDHUP;
    }
  }
  if (s.type == SOCK_STREAM && (ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !s.peerClosed) {
    s.peerClosed = true;
    int err = (ready & EPOLLERR) ? SocketError(s.fd) : 0;
    Post(s, h, FD_CLOSE, err ? WSAErrorFromErrno(err) : 0);
  }
  if ((ready & (EPOLLOUT | EPOLLERR | EPOLLHUP)) && s.writeArmed) {
    s.writeArmed = false;
    Post(s, h, FD_WRITE, 0);
  }
}

uint32_t PollNow(int fd) {
  pollfd p{};
  p.fd = fd;
  p.events = POLLIN | POLLOUT | POLLRDHUP;
  if (::poll(&p, 1, 0) <= 0) return 0;
  uint32_t r = 0;
  if (p.revents & POLLIN) r |= EPOLLIN;
  if (p.revents & POLLOUT) r |= EPOLLOUT;
  if (p.revents & POLLRDHUP) r |= EPOLLRDHUP;
  if (p.revents & POLLERR) r |= EPOLLERR;
  if (p.revents & POLLHUP) r |= EPOLLHUP;
  return r;
}


}  // namespace plat::net

namespace plat {

using namespace net;

int WSAAsyncSelect(SOCKET h, HWND hwnd, UINT msg, int32_t events) {
  auto p = Lookup(h);
  if (!p) return SOCKET_ERROR;
  if (events != 0 && !IsWindow(hwnd)) return Fail(WSAEINVAL);
  int fl = ::fcntl(p->fd, F_GETFL);
  if (fl < 0 || ::fcntl(p->fd, F_SETFL, fl | O_NONBLOCK) != 0) return FailErrno();
  std::lock_guard<std::mutex> g(St().sockMu);
  p->nonBlocking = true;
  p->hwnd = events ? hwnd : 0;
  p->msg = msg;
  p->mask = events;
  p->readPosted = false;
  p->acceptPosted = false;
  if (events && !p->connectPending) {
    // Conditions that already hold are reported now.
    uint32_t ready = PollNow(p->fd);
    if (p->connected && (ready & EPOLLOUT)) p->writeArmed = true;
    Evaluate(h, *p, ready);
  }
  Refresh(h, *p);
  return 0;
}

int32_t WSAAsyncSelectPosted(SOCKET h) {
  auto p = Find(h);
  if (!p) return 0;
  std::lock_guard<std::mutex> g(St().sockMu);
  return p->posted;
}

}  // namespace plat
