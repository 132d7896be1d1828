// Owns one queue's connections to other processes: listening, connecting,
// draining and arming their rings, closing them, and posting across.
#include "platform/msg/MsgLinks.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/msg/MsgFork.h"
#include "platform/msg/MsgProcess.h"

namespace plat::msgimpl {

namespace {

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

int OpenPacketSocket() { return socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

}  // namespace

// A socket the wait does not watch would never wake the queue: its caller
// closes it instead when this fails.
bool Links::AddFd(int fd, FdKind kind, uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = Tag(kind, fd);
  return epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

// Removing a descriptor about to be closed: closing removes it anyway, so a
// failure here changes nothing.
void Links::RemoveFd(int fd) { epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr); }

int Links::ListenAt(const std::string& path, int backlog, FdKind kind) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) {
    OutputDebugString("message queue: session directory path too long for a socket: " + path);
    return -1;
  }
  int fd = Fds().Open(OpenPacketSocket);
  if (fd < 0) return -1;
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0 ||
      !AddFd(fd, kind, EPOLLIN)) {
    Fds().Close(fd);
    unlink(path.c_str());
    return -1;
  }
  ShareSessionPath(path);  // senders of the session's group connect to it
  return fd;
}

bool Links::EnsureListening() {
  if (listenFd_ >= 0) return true;
  Session& s = CurrentSession();
  if (ProcessId(s) == 0) return false;
  uint32_t id = AllocId(s);
  if (id == 0) return false;
  // The backlog bounds the connections (each with its segment) that wait for
  // a stopped or busy queue; a sender beyond it is told the queue is full (a
  // post) or waits to connect (a send), as the receiver is alive.
  int fd = ListenAt(QueuePath(s, id), 256, kListen);
  if (fd < 0) return false;
  // Broadcasts wait apart, so that they never take the room of connections.
  int bfd = ListenAt(BroadcastPath(s, id), kBroadcastBacklog - 1, kBroadcastListen);
  if (bfd < 0) {
    Fds().Close(fd);
    unlink(QueuePath(s, id).c_str());
    return false;
  }
  listenFd_ = fd;
  listenPath_ = QueuePath(s, id);
  broadcastFd_ = bfd;
  broadcastPath_ = BroadcastPath(s, id);
  queueId_ = id;
  session_ = &s;
  OwnQueueFile(s, id, true);
  return true;
}

void Links::CloseInConn(int fd) {
  auto it = inConns_.find(fd);
  if (it == inConns_.end()) return;
  DrainIn(it->second);  // what it wrote before it went still counts
  it->second->dead = true;
  if (it->second->held > 0) retiring_[it->second.get()] = it->second;
  RemoveFd(fd);
  Fds().Close(fd);
  inConns_.erase(it);
}

void Links::LetGo(InConn* c) {
  if (c->seg) {
    auto letGo = A(c->seg->l->postsLetGo);
    letGo.store(letGo.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  }
  VEXA_INVARIANT(c->held > 0, "the queue lets go only of posts it holds");
  if (--c->held == 0 && c->dead) retiring_.erase(c);
}

void Links::CloseOutConn(std::shared_ptr<OutConn> c, bool receiverGone) {
  if (c->dead) return;
  DrainOut(*c);
  RemoveFd(c->fd);
  Proc().courier.CloseSocket(*c);
  if (c->account) Proc().quotas.Leave(c->account, c->lane, receiverGone);
  outByFd_.erase(c->fd);
  auto it = outConns_.find(c->queueId);
  if (it != outConns_.end() && it->second == c) outConns_.erase(it);
  std::erase_if(postTargets_, [&](const auto& t) { return t.second.conn == c; });
}

std::shared_ptr<OutConn> Links::Connected(uint32_t qid) const {
  auto it = outConns_.find(qid);
  return it != outConns_.end() && !it->second->dead ? it->second : nullptr;
}

std::shared_ptr<OutConn> Links::Connect(Session& s, uint32_t qid, int* err) {
  auto it = outConns_.find(qid);
  if (it != outConns_.end()) return it->second;
  int ignored;
  if (!err) err = &ignored;
  *err = ENAMETOOLONG;
  sockaddr_un addr;
  if (!FillAddress(QueuePath(s, qid), &addr)) return nullptr;
  int fd = Fds().Open(OpenPacketSocket);
  *err = errno;
  if (fd < 0) return nullptr;
  int r;
  do {
    r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (r != 0 && errno == EINTR);
  *err = r == 0 ? 0 : errno;
  int segFd = -1;
  std::shared_ptr<Segment> seg;
  if (r == 0) {
    seg = MakeSegment(&segFd);
    if (!seg) *err = errno;  // the memory for its rings could not be taken
    // Named before it is handed over: the receiver reads it once, on arrival.
    if (seg) A(seg->l->senderProc).store(ProcessId(s), std::memory_order_release);
  }
  bool ok = seg && SendHello(fd, segFd) && AddFd(fd, kOutConn, EPOLLIN);
  if (segFd >= 0) close(segFd);
  if (!ok) {
    Fds().Close(fd);
    return nullptr;
  }
  auto c = std::make_shared<OutConn>();
  c->fd = fd;
  c->queueId = qid;
  c->seg = seg;
  c->req = RequestRing(*seg);
  c->rep = ReplyRing(*seg);
  c->checkedAt = NowNs();
  c->account = Proc().quotas.Join(&s, qid, seg, &c->lane);
  outConns_[qid] = c;
  outByFd_[fd] = c;
  if (broadcasting_ > 0) {
    c->forBroadcast = true;
    broadcastConns_.push_back(c);
  }
  return c;
}

bool Links::PushRequest(OutConn& c, const Packet& p, uint32_t limit) {
  if (c.dead || !c.req.Push(p, limit)) return false;
  if (c.req.TakeSleeper()) SendWake(c.fd);
  return true;
}

bool Links::PushPost(const std::shared_ptr<OutConn>& c, const Packet& p) {
  if (c->dead || !c->account->Reserve()) return false;
  // The quota leaves room for the sends: the ring is never full of posts.
  if (!c->req.Push(p, kRequestSlots)) {
    c->account->Cancel();
    return false;
  }
  PostLane& lane = *c->lane;
  lane.posts.store(lane.posts.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  if (c->req.TakeSleeper() && !Proc().courier.HandOver(c)) SendWake(c->fd);
  return true;
}

bool Links::PeerGone(OutConn& c) {
  if (c.dead) return true;
  c.broken |= c.req.Used() > c.req.size;  // the receiver's head makes no sense
  pollfd pf{c.fd, 0, 0};
  if (c.broken || (poll(&pf, 1, 0) > 0 && (pf.revents & (POLLHUP | POLLERR)))) {
    auto keep = outByFd_.find(c.fd);
    // A copy: closing erases the table entry this reference would point into.
    if (keep != outByFd_.end()) CloseOutConn(std::shared_ptr<OutConn>(keep->second), true);
    return true;
  }
  c.checkedAt = NowNs();
  return false;
}

bool Links::SendReply(const std::shared_ptr<InConn>& c, const Packet& p) {
  if (!c || c->dead || !c->seg) return false;
  // A sender keeps no more sends open than its reply ring holds (OpenSend),
  // so a full ring means a broken sender: its reply is dropped, while the
  // connection and the posts on it stay.
  if (!c->rep.Push(p, kReplySlots)) return false;
  if (c->rep.TakeSleeper()) SendWake(c->fd);
  return true;
}

uint32_t Links::OpenSend(OutConn& c) {
  if (c.openCount >= kReplySlots) return 0;
  if (c.openSends.empty()) c.openSends.assign(kReplySlots, 0);
  uint32_t seq;
  do {  // sequence numbers are this thread's: skipping some costs nothing
    seq = NextSeq();
  } while (c.openSends[seq % kReplySlots] != 0);
  VEXA_INVARIANT(seq != 0, "a send's sequence number is never 0");
  c.openSends[seq % kReplySlots] = seq;
  ++c.openCount;
  auto word = A(c.seg->l->sends[seq % kReplySlots]);
  word.store(SendWord(seq, kSendPending), std::memory_order_release);
  return seq;
}

void Links::CloseSend(OutConn& c, uint32_t seq) {
  if (c.openSends.empty() || c.openSends[seq % kReplySlots] != seq) return;
  VEXA_INVARIANT(c.openCount > 0, "the open sends' count covers every open slot");
  c.openSends[seq % kReplySlots] = 0;
  --c.openCount;
}

// The sender gives up only a send it holds open: its slot's word is its own
// to move, not that of a later send sharing the slot.
void Links::CheckOpen(const OutConn& c, uint32_t seq) {
  VEXA_INVARIANT(
      c.seg && c.openSends.size() == kReplySlots && c.openSends[seq % kReplySlots] == seq,
      "a send is given up only while it is open");
}

namespace {

// Moves a send's word from one state to another; false when it was not in the first.
// What the word held is the peer's to write and is only compared; the steps
// asked for are ours: a pending send is taken or abandoned, a taken one
// answered or forsaken.
bool MarkSend(Segment& seg, uint32_t seq, SendMark from, SendMark to) {
  VEXA_INVARIANT(
      from == kSendPending ? to == kSendTaken || to == kSendAbandoned
                           : from == kSendTaken && (to == kSendAnswered || to == kSendForsaken),
      "a send's word goes from pending to taken or abandoned, from taken to answered or forsaken");
  uint64_t was = SendWord(seq, from);
  return A(seg.l->sends[seq % kReplySlots])
      .compare_exchange_strong(was, SendWord(seq, to), std::memory_order_acq_rel);
}

}  // namespace

bool Links::TakeSend(InConn& c, uint32_t seq) {
  return c.seg && MarkSend(*c.seg, seq, kSendPending, kSendTaken);
}

bool Links::AnswerSend(InConn& c, uint32_t seq) {
  return c.seg && MarkSend(*c.seg, seq, kSendTaken, kSendAnswered);
}

bool Links::AbandonSend(OutConn& c, uint32_t seq) {
  CheckOpen(c, seq);
  if (!MarkSend(*c.seg, seq, kSendPending, kSendAbandoned)) return false;
  CloseSend(c, seq);
  return true;
}

bool Links::ForsakeSend(OutConn& c, uint32_t seq) {
  CheckOpen(c, seq);
  if (!MarkSend(*c.seg, seq, kSendTaken, kSendForsaken)) return false;
  CloseSend(c, seq);  // no reply comes for it
  return true;
}

bool Links::PostForeign(Session& s, HWND hwnd, const Entry& e, UINT msg, WPARAM wParam,
                        LPARAM lParam) {
  // With a live connection to its queue the liveness lock need not be asked:
  // the connection's socket tells when the peer is gone.
  bool connected = Connected(e.queueId) != nullptr;
  if (e.procId == s.procId || (!connected && !ProcessAlive(s, e.procId))) {
    if (e.procId != s.procId) ForgetDeadEntry(s, hwnd, e);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  Packet p = MessagePacket(kPost, hwnd, msg, wParam, lParam);
  int err = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto c = Connect(s, e.queueId, &err);
    if (!c) break;
    if (PeerGone(*c)) continue;  // a cached connection whose peer went away: try a fresh one
    if (broadcasting_ == 0) c->forBroadcast = false;  // posted to directly: it stays
    if (PushPost(c, p)) {
      if (c->forBroadcast) return true;
      // Kept for the next post when the entry still stands after the count
      // was read: a window destroyed later loses its entry first, then counts.
      uint32_t gone = A(c->seg->l->windowsGone).load(std::memory_order_acquire);
      Entry again;
      if (ReadEntry(s, hwnd, &again) && again.queueId == e.queueId) {
        if (postTargets_.size() > 4096) postTargets_.clear();
        postTargets_[hwnd] = PostTarget{&s, c, gone};
      }
      return true;
    }
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  // Whether the window lives is the liveness lock's to say: a receiver alive
  // but too busy to take one more connection is full, not gone.
  bool alive = ProcessAlive(s, e.procId);
  if (!alive) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  } else if (err == EAGAIN) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
  } else {
    const DWORD code = ErrorFromErrno(err);
    SetLastError(code == ERROR_NOT_ENOUGH_MEMORY ? code : ERROR_INVALID_WINDOW_HANDLE);
  }
  return false;
}

bool Links::PostKnownForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool* posted) {
  auto it = postTargets_.find(hwnd);
  if (it == postTargets_.end()) return false;
  std::shared_ptr<OutConn> c = it->second.conn;
  if (it->second.session != &CurrentSession() || c->dead || !c->seg ||
      A(c->seg->l->windowsGone).load(std::memory_order_acquire) != it->second.windowsGone) {
    postTargets_.erase(it);
    return false;
  }
  if (PeerGone(*c)) {  // closing the connection forgot its targets
    postTargets_.erase(hwnd);
    return false;
  }
  *posted = PushPost(c, MessagePacket(kPost, hwnd, msg, wParam, lParam));
  if (!*posted) SetLastError(ERROR_NOT_ENOUGH_QUOTA);
  return true;
}

uint32_t Links::NextSeq() {
  if (++nextSeq_ == 0) ++nextSeq_;
  return nextSeq_;
}

void Links::DrainIn(const std::shared_ptr<InConn>& c) {
  InConn& conn = *c;
  if (!conn.seg || conn.dead) return;
  Packet p;
  int got;
  bool any = false;
  while ((got = conn.req.Pop(&p)) > 0) {
    any = true;
    if (p.kind == kPost) {
      ++conn.held;
      if (!intake_.TakeRequest(p, c)) LetGo(&conn);
    } else if (p.kind == kSend) {
      intake_.TakeRequest(p, c);
    }
  }
  if (any) lastTraffic_ = NowNs();
  if (got < 0) conn.broken = true;  // nonsense indexes: DrainRings closes it
}

void Links::DrainOut(OutConn& conn) {
  if (!conn.seg || conn.dead) return;
  Packet p;
  bool any = false;
  int got;
  while ((got = conn.rep.Pop(&p)) > 0) {
    any = true;
    if (p.kind != kReply) continue;
    CloseSend(conn, p.seq);
    if (awaiting.erase(p.seq)) replies[p.seq] = Reply{p.status, p.result};
  }
  if (any) lastTraffic_ = NowNs();
  if (got < 0) conn.broken = true;
}

// A ring holding nonsense indexes (a broken peer, or two writers on one end)
// can never be trusted again: its connection closes, the others serve on.
void Links::DrainRings() {
  bool broken = false;
  for (auto& [fd, c] : inConns_) {
    DrainIn(c);
    broken |= c->broken;
  }
  for (auto& [fd, c] : outByFd_) {
    DrainOut(*c);
    broken |= c->broken;
  }
  if (broken) CloseBroken();
}

void Links::CloseBroken() {
  std::vector<int> in;
  for (auto& [fd, c] : inConns_) {
    if (c->broken) in.push_back(fd);
  }
  for (int fd : in) CloseInConn(fd);
  std::vector<std::shared_ptr<OutConn>> out;
  for (auto& [fd, c] : outByFd_) {
    if (c->broken) out.push_back(c);
  }
  for (auto& c : out) CloseOutConn(c);
}

bool Links::RingsHaveData() {
  for (auto& [fd, c] : inConns_) {
    if (c->seg && c->req.HasData()) return true;
  }
  for (auto& [fd, c] : outByFd_) {
    if (c->rep.HasData()) return true;
  }
  return false;
}

bool Links::ArmRings() {
  for (auto& [fd, c] : inConns_) {
    if (c->seg) c->req.Arm();
  }
  for (auto& [fd, c] : outByFd_) c->rep.Arm();
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (RingsHaveData()) {
    DisarmRings();
    return false;
  }
  return true;
}

void Links::DisarmRings() {
  for (auto& [fd, c] : inConns_) {
    if (c->seg) c->req.Disarm();
  }
  for (auto& [fd, c] : outByFd_) c->rep.Disarm();
}

void Links::Accept() {
  for (;;) {
    int c = Fds().Open(
        [this] { return accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); });
    if (c < 0) break;
    if (!AddFd(c, kInConn, EPOLLIN)) {
      Fds().Close(c);  // the sender sees the hang-up
      continue;
    }
    auto conn = std::make_shared<InConn>();
    conn->fd = c;
    inConns_[c] = conn;
    ReadIncoming(c, 0);  // its segment usually waits already
  }
}

bool Links::ReadBroadcast(int fd) {
  // A sender writes one packet per top-level window of this queue.
  for (int n = 0; n < kBroadcastBacklog;) {
    Packet p;
    ssize_t got = recv(fd, &p, sizeof p, MSG_DONTWAIT | MSG_TRUNC);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
    if (got != static_cast<ssize_t>(sizeof p)) return true;  // its end, or not a packet of ours
    ++n;
    if (p.kind == kPost && BroadcastCarries(p.msg)) intake_.TakeRequest(p, nullptr);
  }
  return true;
}

void Links::AcceptBroadcasts() {
  for (;;) {
    int c = Fds().Open(
        [this] { return accept4(broadcastFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); });
    if (c < 0) break;
    if (ReadBroadcast(c)) {
      Fds().Close(c);
      continue;
    }
    // Accepted before its sender wrote: it is watched until it has, among a
    // bounded few, so that senders that never write cannot pile up here.
    if (broadcastIn_.size() >= static_cast<size_t>(kBroadcastBacklog) ||
        !AddFd(c, kBroadcastIn, EPOLLIN)) {
      Fds().Close(c);
      continue;
    }
    broadcastIn_.insert(c);
  }
}

void Links::ReadBroadcastConn(int fd, uint32_t events) {
  if (!broadcastIn_.count(fd)) return;
  if (ReadBroadcast(fd) || (events & (EPOLLHUP | EPOLLERR))) {
    RemoveFd(fd);
    Fds().Close(fd);
    broadcastIn_.erase(fd);
  }
}

void Links::BroadcastToQueue(Session& s, Links* links, uint32_t qid,
                             const std::vector<std::pair<HWND, Entry>>& windows, UINT msg,
                             WPARAM wParam, LPARAM lParam, int* reached, int* missed) {
  std::shared_ptr<OutConn> c = links ? links->Connected(qid) : nullptr;
  if (c && !links->PeerGone(*c)) {
    for (const auto& [h, e] : windows) {
      ++*(links->PushPost(c, MessagePacket(kPost, h, msg, wParam, lParam)) ? reached : missed);
    }
    return;
  }
  sockaddr_un addr;
  if (!FillAddress(BroadcastPath(s, qid), &addr)) return;
  int fd = Fds().Open(OpenPacketSocket);
  if (fd < 0) {
    *missed += static_cast<int>(windows.size());
    return;
  }
  int r;
  do {
    r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (r != 0 && errno == EINTR);
  const int err = r == 0 ? 0 : errno;
  const uint32_t self = ProcessId(s);
  for (const auto& [h, e] : windows) {
    Packet p = MessagePacket(kPost, h, msg, wParam, lParam);
    p.status = self;
    if (r == 0 &&
        send(fd, &p, sizeof p, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof p)) {
      ++*reached;
    } else if (err == EAGAIN || ProcessAlive(s, e.procId)) {
      ++*missed;  // alive, and holding all the broadcasts it can
    } else {
      ForgetDeadEntry(s, h, e);
    }
  }
  Fds().Close(fd);
}

void Links::ReadIncoming(int fd, uint32_t events) {
  auto it = inConns_.find(fd);
  if (it == inConns_.end()) return;
  std::shared_ptr<InConn> conn = it->second;
  const bool hadSegment = conn->seg != nullptr;
  const bool finished = ReadSocket(fd, events, &conn->seg);
  if (!hadSegment && conn->seg) {
    conn->req = RequestRing(*conn->seg);
    conn->rep = ReplyRing(*conn->seg);
    conn->senderProc = ForeignSender(A(conn->seg->l->senderProc).load(std::memory_order_acquire));
  }
  if (finished) CloseInConn(fd);
}

void Links::ReadReplies(int fd, uint32_t events) {
  auto it = outByFd_.find(fd);
  if (it == outByFd_.end()) return;
  std::shared_ptr<OutConn> conn = it->second;
  if (ReadSocket(fd, events, nullptr)) CloseOutConn(conn, true);
}

void Links::EndBroadcast() {
  if (--broadcasting_ > 0) return;
  std::vector<std::shared_ptr<OutConn>> made;
  made.swap(broadcastConns_);
  // Closing at once loses nothing: a receiver drains the ring before it acts
  // on the hang-up.
  for (auto& c : made) {
    if (c->forBroadcast) CloseOutConn(c);
  }
}

void Links::CountWindowGone() {
  // A sender whose connection waits to be accepted already holds a post
  // target with the count it read: it must see this window go too.
  if (listenFd_ >= 0) Accept();
  for (auto& [fd, c] : inConns_) {
    if (c->seg) A(c->seg->l->windowsGone).fetch_add(1, std::memory_order_release);
  }
}

void Links::CloseAll() {
  for (auto& [fd, c] : inConns_) {
    c->dead = true;
    Fds().Close(fd);
  }
  inConns_.clear();
  retiring_.clear();
  for (auto& [fd, c] : outByFd_) {
    Proc().courier.CloseSocket(*c);
    if (c->account) Proc().quotas.Leave(c->account, c->lane, false);
  }
  outByFd_.clear();
  outConns_.clear();
  postTargets_.clear();
  for (int fd : broadcastIn_) Fds().Close(fd);
  broadcastIn_.clear();
  if (listenFd_ >= 0) {
    Fds().Close(listenFd_);
    unlink(listenPath_.c_str());
    Fds().Close(broadcastFd_);
    unlink(broadcastPath_.c_str());
    OwnQueueFile(*session_, queueId_, false);
    listenFd_ = -1;
    broadcastFd_ = -1;
  }
}

}  // namespace plat::msgimpl
