// Owns the post quota of this process: for each queue of another process it
// posts to, how many of its posts that queue holds, over all of its threads.
//
// A receiving queue holds at most kPostQuota posts of one sending process, in
// its rings and its own queue together; beyond that a post fails at once. Each
// thread of the sender has a connection (a segment) of its own to that queue,
// so the count is kept here, in one PostAccount per receiving queue that every
// connection of this process to it shares: the sender counts the posts it
// pushes, the receiver counts in each segment the posts it let go of
// (SegmentLayout::postsLetGo). A connection that closes while the receiver
// still holds some of its posts stays counted until they are let go.
// The one PostQuotas of the process lives in the process state (MsgProcess.h).
// Internal to the message layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/msg/MsgRing.h"

namespace plat::msgimpl {

struct Session;

// One connection's part of an account.
struct PostLane {
  std::shared_ptr<Segment> seg;
  std::atomic<uint32_t> posts{0};  // pushed on it; written by its owner thread only
  std::atomic<bool> closed{false};
};

class PostAccount {
 public:
  // Counts one post about to be pushed; false when the receiver holds
  // kPostQuota posts of this process already.
  bool Reserve();
  // Takes back a count whose post was not pushed after all.
  void Cancel() { accepted_.fetch_sub(1, std::memory_order_relaxed); }

 private:
  friend class PostQuotas;
  // Reads what the receiver let go of; forgets closed lanes it let go of
  // entirely. Answers whether closed lanes are left. Under mu_.
  bool Refresh();

  std::atomic<uint32_t> accepted_{0};  // counted by Reserve
  std::atomic<uint32_t> letGo_{0};     // let go of by the receiver, as last read
  std::pair<Session*, uint32_t> key_{};  // its receiving queue
  std::mutex mu_;                        // the fields below
  std::vector<std::shared_ptr<PostLane>> lanes_;
  uint32_t letGoForgotten_ = 0;  // let go of on lanes no longer listed
};

class PostQuotas {
 public:
  // The account of this process at queue qid, and in *lane a new part of it
  // for a connection over seg.
  std::shared_ptr<PostAccount> Join(Session* s, uint32_t qid, const std::shared_ptr<Segment>& seg,
                                    std::shared_ptr<PostLane>* lane);
  // A connection closed. When its receiver is gone the account goes with it.
  void Leave(const std::shared_ptr<PostAccount>& account, const std::shared_ptr<PostLane>& lane,
             bool receiverGone);

  // Fork: the child starts with no accounts (its posts are its own).
  void PrepareFork() { mu_.lock(); }
  void ParentAfterFork() { mu_.unlock(); }
  void ChildAfterFork();

 private:
  // Files the account by whether closed lanes are left; forgets one without lanes.
  void Sort(const std::shared_ptr<PostAccount>& account, bool closedLeft, bool empty);

  std::mutex mu_;  // the fields below; taken before an account's
  std::map<std::pair<Session*, uint32_t>, std::shared_ptr<PostAccount>> accounts_;
  std::set<std::shared_ptr<PostAccount>> lingering_;  // with closed lanes still counted
};

}  // namespace plat::msgimpl
