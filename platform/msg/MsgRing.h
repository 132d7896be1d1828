// Owns the wire between the queues of two processes: the packet, the shared
// segment with its two rings, and the socket packets that carry it and wake.
//
// The first time a thread reaches a queue of another process it makes one
// shared segment for that pair: anonymous memory (memfd), so nothing is left
// behind when either side dies, taken in full when it is made and sealed at
// that size, so neither running out of memory later nor a peer cutting it
// short can fault the reader. Its descriptor travels with the connection's
// first packet; a receiver takes only a segment sealed so. The segment holds two single-producer
// single-consumer rings: requests (posts and sends, in the order made) from
// the sender, replies back to it. The socket stays for what it does well: the
// descriptor, wake-ups of a sleeping side (one byte) and the end of the peer.
//
// A consumer about to sleep raises its ring's sleeping word and looks once
// more; a producer that finds the word raised clears it and sends a wake byte
// (a poster hands that to the process's courier thread, see MsgCourier.h).
// Both sides spin briefly before sleeping while traffic flows and another CPU
// can run the peer, so a burst costs memory traffic instead of wake-ups.
// Internal to the message layer.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/kernel/Invariant.h"

namespace plat::msgimpl {

enum PacketKind : uint32_t { kPost = 1, kSend = 2, kReply = 3 };
enum ReplyStatus : uint32_t { kReplyOk = 0, kReplyNoWindow = 1 };

struct Packet {
  uint32_t kind = 0;
  uint32_t seq = 0;
  uint32_t hwnd = 0;
  uint32_t msg = 0;
  int32_t wParam = 0;
  int32_t lParam = 0;
  int32_t result = 0;
  uint32_t status = 0;  // a reply's ReplyStatus; a broadcast post's sending process
  uint32_t time = 0;
};

constexpr uint32_t kRingMagic = 0x56524732;   // "VRG2"
constexpr uint32_t kRequestSlots = 16384;     // power of two
constexpr uint32_t kReplySlots = 1024;        // also the most sends one connection keeps open
constexpr uint32_t kPostQuota = 10000;        // posts of one process a receiver may hold unread
// A ring's slot is its index masked by size - 1.
static_assert(std::has_single_bit(kRequestSlots) && std::has_single_bit(kReplySlots));
// The posts one receiver holds leave room on the ring for every open send.
static_assert(kPostQuota + kReplySlots <= kRequestSlots);

struct RingIndex {
  alignas(64) uint32_t tail = 0;  // written by the producer
  alignas(64) uint32_t head = 0;  // written by the consumer
  uint32_t sleeping = 0;          // raised by the consumer, cleared by either side
};

struct SegmentLayout {
  uint32_t magic;
  uint32_t windowsGone;  // counts windows the receiving queue destroyed
  uint32_t senderProc;   // the sending process's number in the session, written before handing over
  RingIndex req;
  RingIndex rep;
  Packet reqSlots[kRequestSlots];
  Packet repSlots[kReplySlots];
  // Written by the receiver: the posts of this connection it let go of
  // (retrieved, or dropped with their window). See MsgQuota.h.
  alignas(64) uint32_t postsLetGo;
  // One word per open send, at seq % kReplySlots: SendWord(seq, state). The
  // sender writes it pending before the request; then whichever side changes
  // it first decides: the receiver takes it to handle it, or the sender, that
  // gave up waiting, abandons it and the receiver skips it. A send taken is
  // decided once more the same way: the receiver marks it answered before its
  // reply goes, or the sender, that gave up for good, forsakes it and no
  // reply goes; so the receiver knows whether its answer reached anyone.
  alignas(64) uint64_t sends[kReplySlots];
};

enum SendMark : uint32_t {
  kSendPending = 1,
  kSendTaken = 2,
  kSendAbandoned = 3,
  kSendAnswered = 4,
  kSendForsaken = 5
};

inline uint64_t SendWord(uint32_t seq, SendMark state) {
  return (static_cast<uint64_t>(seq) << 32) | state;
}

template <class T>
std::atomic_ref<T> A(T& v) {
  return std::atomic_ref<T>(v);
}

// One mapping of a segment, unmapped when the last connection using it goes.
struct Segment {
  SegmentLayout* l = nullptr;
  ~Segment();
};

// One direction of a segment as seen from one side.
struct Ring {
  RingIndex* idx = nullptr;
  Packet* slots = nullptr;
  uint32_t size = 0;

  uint32_t Used() const {
    return A(idx->tail).load(std::memory_order_relaxed) - A(idx->head).load(std::memory_order_acquire);
  }
  // Producer: false when limit entries are unread already. The indexes are
  // shared with the peer and only compared; the limit is ours, and one past
  // the ring's size would overwrite entries not read yet.
  bool Push(const Packet& p, uint32_t limit) {
    VEXA_INVARIANT(limit <= size, "a producer never laps its consumer");
    uint32_t t = A(idx->tail).load(std::memory_order_relaxed);
    uint32_t h = A(idx->head).load(std::memory_order_acquire);
    if (t - h >= limit) return false;
    slots[t & (size - 1)] = p;
    A(idx->tail).store(t + 1, std::memory_order_release);
    return true;
  }
  // Producer, after Push: whether the consumer sleeps and must be woken (once).
  bool TakeSleeper() {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return A(idx->sleeping).load(std::memory_order_relaxed) != 0 &&
           A(idx->sleeping).exchange(0, std::memory_order_acq_rel) != 0;
  }
  // Consumer. -1: the indexes make no sense (a broken peer).
  int Pop(Packet* p) {
    uint32_t h = A(idx->head).load(std::memory_order_relaxed);
    uint32_t t = A(idx->tail).load(std::memory_order_acquire);
    if (h == t) return 0;
    if (t - h > size) return -1;
    *p = slots[h & (size - 1)];
    A(idx->head).store(h + 1, std::memory_order_release);
    return 1;
  }
  bool HasData() const {
    return A(idx->tail).load(std::memory_order_acquire) != A(idx->head).load(std::memory_order_relaxed);
  }
  void Arm() { A(idx->sleeping).store(1, std::memory_order_relaxed); }
  void Disarm() {
    if (A(idx->sleeping).load(std::memory_order_relaxed)) A(idx->sleeping).store(0, std::memory_order_relaxed);
  }
};

inline Ring RequestRing(Segment& s) { return Ring{&s.l->req, s.l->reqSlots, kRequestSlots}; }
inline Ring ReplyRing(Segment& s) { return Ring{&s.l->rep, s.l->repSlots, kReplySlots}; }

// Maps a segment received from a peer; null when it is not sealed at its
// full size, or unmappable.
std::shared_ptr<Segment> MapSegment(int fd);
// A new segment for the queue pair, all its memory taken; answers its
// descriptor in *fd, or null with errno set (ENOMEM, ENOSPC: memory is full).
std::shared_ptr<Segment> MakeSegment(int* fd);

// Socket packets: the first one carries the segment, the rest only wake.
bool SendHello(int fd, int segFd);
void SendWake(int fd);
// Reads every waiting socket packet without blocking; a segment that arrives
// goes to *seg (when none came before). Answers true when the connection is
// finished (end of stream, an error, a hang-up with nothing left to read, or
// a segment that was refused).
bool ReadSocket(int fd, uint32_t events, std::shared_ptr<Segment>* seg);

// Spinning pays only while another CPU can run the peer meanwhile.
bool MayRunBesidePeer();

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace plat::msgimpl
