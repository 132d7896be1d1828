// Owns one queue's connections to other processes: its listening socket, the
// senders connected to it (InConn), the queues it reaches (OutConn) and their rings.
//
// A sender connects to the receiving queue's socket q<id> (connections are
// cached per sending thread) and hands over a shared segment (MsgRing.h): its
// posts and sends go one way, replies the other. The socket carries only
// wake-ups, so a sender whose receiver dies sees it close.
// A broadcast to a queue the sending thread has no connection to goes to the
// queue's second socket, b<id>, instead: a connection of its own that carries
// the packets themselves (no segment) and closes at once. That socket's small
// backlog is all a queue that reads nothing holds of such broadcasts; the
// next one misses it and is counted so (see PostBroadcast in Msg.h).
// Everything here belongs to the queue's owner thread, except what the
// courier may touch (OutConn's WakeTarget part, under the courier's lock).
// Internal to the message layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/kernel/Invariant.h"
#include "platform/msg/Msg.h"
#include "platform/msg/MsgCourier.h"
#include "platform/msg/MsgQuota.h"
#include "platform/msg/MsgRing.h"
#include "platform/msg/MsgSession.h"

namespace plat::msgimpl {

// epoll data of a queue's wait: kind in the upper half, descriptor in the lower.
enum FdKind : uint32_t {
  kWake = 1,
  kListen,
  kInConn,
  kOutConn,
  kSignal,
  kWatched,
  kBroadcastListen,
  kBroadcastIn
};

// Broadcast connections a queue holds unaccepted; a few KB of kernel memory each.
constexpr int kBroadcastBacklog = 64;

// A broadcast carries registered messages only: ids below them belong to the
// system or to a window class, and what they mean depends on the one window
// they were made for.
inline bool BroadcastCarries(UINT msg) { return msg >= 0xC000 && msg <= 0xFFFF; }

inline uint64_t Tag(FdKind kind, int fd) {
  return (static_cast<uint64_t>(kind) << 32) | static_cast<uint32_t>(fd);
}

// What a sender of another process that did not name itself is taken for: a
// number no process of the session has, so it never passes for a window's
// owner nor for this process.
constexpr uint32_t kUnnamedSender = 0xFFFFFFFF;
inline uint32_t ForeignSender(uint32_t named) { return named != 0 ? named : kUnnamedSender; }

// A sender of another process: we consume its requests and produce replies.
struct InConn {
  int fd = -1;
  bool dead = false;
  bool broken = false;  // its ring holds nonsense indexes: to be closed
  std::shared_ptr<Segment> seg;  // none until its first packet came
  Ring req;
  Ring rep;
  uint32_t held = 0;  // its posts the queue holds
  uint32_t senderProc = kUnnamedSender;  // the sending process, as its segment names it
};

// A queue of another process we send to: we produce requests, consume replies.
struct OutConn : WakeTarget {
  uint32_t queueId = 0;
  std::shared_ptr<Segment> seg;
  Ring req;
  Ring rep;
  bool broken = false;    // a ring holds nonsense indexes: to be closed
  int64_t checkedAt = 0;  // when the socket was last asked about a hang-up
  std::shared_ptr<PostAccount> account;  // this process's posts at that queue
  std::shared_ptr<PostLane> lane;        // and this connection's part of them
  // Sends open on it, by state slot (seq % kReplySlots; 0: free), made with
  // the first send. A send keeps its slot until its reply is read or it is
  // abandoned, so the receiver never owes more replies than its ring holds.
  std::vector<uint32_t> openSends;
  uint32_t openCount = 0;
  bool forBroadcast = false;  // made by a broadcast: closed when it ends
};

struct Reply {
  uint32_t status = 0;
  LRESULT result = 0;
};

// A posted or sent message as it travels to another process, stamped now.
inline Packet MessagePacket(PacketKind kind, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Packet p;
  p.kind = kind;
  p.hwnd = hwnd;
  p.msg = msg;
  p.wParam = wParam;
  p.lParam = lParam;
  p.time = GetTickCount();
  return p;
}

// What the owning queue takes from its links.
class Intake {
 public:
  // A post or send that arrived from another process, in the order made; a
  // post to a window the queue no longer has is dropped there (false). The
  // queue hands each post it kept back to Links::LetGo when it lets go of it.
  virtual bool TakeRequest(const Packet& p, const std::shared_ptr<InConn>& from) = 0;

 protected:
  ~Intake() = default;
};

class Links {
 public:
  Links(Intake& intake, int epfd) : intake_(intake), epfd_(epfd) {}

  // The listening socket other processes connect to; made with the first window.
  bool EnsureListening();
  Session* session() const { return session_; }
  uint32_t queueId() const { return queueId_; }

  // The cached connection to a queue, or a new one with a new segment. Never
  // blocks: null when the receiver cannot be reached now, with *err the errno
  // of the connect (EAGAIN: alive but too busy to take more connections) or of
  // taking the segment's memory (ENOMEM, ENOSPC, EFBIG: see ErrorFromErrno).
  std::shared_ptr<OutConn> Connect(Session& s, uint32_t qid, int* err = nullptr);
  // A cached live connection to a queue, or null.
  std::shared_ptr<OutConn> Connected(uint32_t qid) const;
  void CloseInConn(int fd);
  // Takes its own reference: callers may pass one held in a table it erases.
  // receiverGone: the peer hung up, so what it held of our posts is gone too.
  void CloseOutConn(std::shared_ptr<OutConn> c, bool receiverGone = false);
  // Whether the receiver's end of a connection is gone (asks the socket,
  // closing the connection if so).
  bool PeerGone(OutConn& c);

  // Puts one request on a connection's ring and wakes the receiver if it sleeps.
  bool PushRequest(OutConn& c, const Packet& p, uint32_t limit);
  // The same for a post, whose wake the courier may send; false when the
  // receiver holds kPostQuota posts of this process (see MsgQuota.h).
  bool PushPost(const std::shared_ptr<OutConn>& c, const Packet& p);
  // The queue let go of a post that came over a connection (retrieved or dropped).
  void LetGo(InConn* c);
  // Answers a send that came over a connection; false when the reply could
  // not be put on its ring (a broken sender).
  bool SendReply(const std::shared_ptr<InConn>& c, const Packet& p);

  // A send's state slot (SendWord in MsgRing.h). Sender: a sequence number
  // with a free slot marked pending (0 when kReplySlots sends are open);
  // abandoning one the receiver has not taken yet (false when it has).
  // Receiver: taking one to handle it (false when abandoned: skip it).
  // Once taken, the sender forsaking it for good (false when it was answered:
  // the reply is on its way) and the receiver marking it answered before the
  // reply goes (false when forsaken: nobody reads the reply).
  uint32_t OpenSend(OutConn& c);
  bool AbandonSend(OutConn& c, uint32_t seq);
  static bool TakeSend(InConn& c, uint32_t seq);
  bool ForsakeSend(OutConn& c, uint32_t seq);
  static bool AnswerSend(InConn& c, uint32_t seq);
  // A broadcast reaches every process of the session: the connections it
  // makes close when it ends (cached ones serve it and stay), so programs do
  // not each keep one to every other. Broadcasts may nest.
  void BeginBroadcast() { ++broadcasting_; }
  void EndBroadcast();

  // Posts to a window of another process (or a stale entry of ours). Never
  // waits: a receiver that leaves kPostQuota posts unread refuses the next.
  bool PostForeign(Session& s, HWND hwnd, const Entry& e, UINT msg, WPARAM wParam, LPARAM lParam);
  // A post to a foreign window this thread posted to before, while nothing
  // says the window or its queue went away. Answers false when it cannot tell.
  bool PostKnownForeign(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool* posted);
  // A broadcast to the top-level windows of one queue of another process:
  // over the live connection of this thread's (links) when there is one, so
  // it keeps its place among this thread's posts there; else over a
  // broadcast connection. Adds the windows that took it to *reached and the
  // live ones that refused it (full) to *missed.
  static void BroadcastToQueue(Session& s, Links* links, uint32_t qid,
                               const std::vector<std::pair<HWND, Entry>>& windows, UINT msg,
                               WPARAM wParam, LPARAM lParam, int* reached, int* missed);

  // Sends in flight: a sequence number for a new one, the replies that came.
  uint32_t NextSeq();
  std::unordered_set<uint32_t> awaiting;
  std::unordered_map<uint32_t, Reply> replies;
  // Foreign windows this thread sent to: handle -> queue id. A stale entry is
  // harmless: the receiver answers "no such window" or the connection is gone.
  std::unordered_map<HWND, uint32_t> sendTargets;

  // Socket events of the queue's wait.
  void Accept();
  void AcceptBroadcasts();
  void ReadBroadcastConn(int fd, uint32_t events);
  void ReadIncoming(int fd, uint32_t events);
  void ReadReplies(int fd, uint32_t events);

  // Rings: take what they hold, and the sleeping words around a wait.
  void DrainRings();
  bool RingsHaveData();
  bool ArmRings();  // false when something arrived meanwhile (disarmed again)
  void DisarmRings();
  bool Empty() const { return inConns_.empty() && outByFd_.empty(); }
  int64_t lastTraffic() const { return lastTraffic_; }

  // Senders that kept this queue at hand look the window entry up again,
  // also those whose connection still waits to be accepted.
  void CountWindowGone();
  // Thread exit: every connection and the listening socket close.
  void CloseAll();

 private:
  bool AddFd(int fd, FdKind kind, uint32_t events);
  // A listening socket at path, watched as kind; -1 on failure.
  int ListenAt(const std::string& path, int backlog, FdKind kind);
  // Takes the broadcasts waiting on a broadcast connection; true when the
  // connection is done with (closed by its sender, or holding nonsense).
  bool ReadBroadcast(int fd);
  void RemoveFd(int fd);
  void DrainIn(const std::shared_ptr<InConn>& c);
  void DrainOut(OutConn& conn);
  void CloseBroken();
  static void CloseSend(OutConn& c, uint32_t seq);
  static void CheckOpen(const OutConn& c, uint32_t seq);

  Intake& intake_;
  int epfd_;
  Session* session_ = nullptr;
  uint32_t queueId_ = 0;
  int listenFd_ = -1;
  std::string listenPath_;
  int broadcastFd_ = -1;
  std::string broadcastPath_;
  // Broadcast connections accepted before their sender wrote; a bounded few.
  std::unordered_set<int> broadcastIn_;
  std::unordered_map<int, std::shared_ptr<InConn>> inConns_;
  // Closed connections whose posts the queue still holds (see LetGo).
  std::unordered_map<InConn*, std::shared_ptr<InConn>> retiring_;
  std::unordered_map<uint32_t, std::shared_ptr<OutConn>> outConns_;  // by queue id
  std::unordered_map<int, std::shared_ptr<OutConn>> outByFd_;
  uint32_t nextSeq_ = 0;
  // Foreign windows this thread posted to, so the next post needs no look-up
  // of the entry: valid while the receiving queue destroyed no window since.
  struct PostTarget {
    Session* session = nullptr;
    std::shared_ptr<OutConn> conn;
    uint32_t windowsGone = 0;
  };
  std::unordered_map<HWND, PostTarget> postTargets_;
  int64_t lastTraffic_ = 0;  // when a ring last brought something
  int broadcasting_ = 0;
  std::vector<std::shared_ptr<OutConn>> broadcastConns_;  // made while broadcasting
};

}  // namespace plat::msgimpl
