// Owns the post quota of this process: one account per receiving queue, shared
// by every connection of this process to it, and what its receiver let go of.
#include "platform/msg/MsgQuota.h"

#include <algorithm>

namespace plat::msgimpl {

bool PostAccount::Reserve() {
  // Signed: a count of what was let go read after a newer post is harmless.
  auto held = [this](uint32_t a) {
    return static_cast<int32_t>(a - letGo_.load(std::memory_order_acquire));
  };
  uint32_t a = accepted_.load(std::memory_order_relaxed);
  for (;;) {
    if (held(a) >= static_cast<int32_t>(kPostQuota)) {
      // Only at the limit are the receiver's counts read: none of this
      // process's threads pays for them while posts flow.
      {
        std::lock_guard<std::mutex> lock(mu_);
        Refresh();
      }
      a = accepted_.load(std::memory_order_relaxed);
      if (held(a) >= static_cast<int32_t>(kPostQuota)) return false;
    }
    if (accepted_.compare_exchange_weak(a, a + 1, std::memory_order_relaxed)) return true;
  }
}

bool PostAccount::Refresh() {
  uint32_t sum = letGoForgotten_;
  bool closedLeft = false;
  std::erase_if(lanes_, [&](const std::shared_ptr<PostLane>& lane) {
    uint32_t got = A(lane->seg->l->postsLetGo).load(std::memory_order_acquire);
    sum += got;
    if (!lane->closed.load(std::memory_order_acquire)) return false;
    if (got == lane->posts.load(std::memory_order_relaxed)) {
      letGoForgotten_ += got;
      return true;
    }
    closedLeft = true;
    return false;
  });
  letGo_.store(sum, std::memory_order_release);
  return closedLeft;
}

std::shared_ptr<PostAccount> PostQuotas::Join(Session* s, uint32_t qid,
                                              const std::shared_ptr<Segment>& seg,
                                              std::shared_ptr<PostLane>* lane) {
  std::lock_guard<std::mutex> lock(mu_);
  // Connecting is rare: the time to let go of closed lanes whose posts were read.
  std::vector<std::shared_ptr<PostAccount>> look(lingering_.begin(), lingering_.end());
  for (auto& a : look) {
    std::unique_lock<std::mutex> alock(a->mu_);
    bool closedLeft = a->Refresh();
    bool empty = a->lanes_.empty();
    alock.unlock();
    Sort(a, closedLeft, empty);
  }
  std::shared_ptr<PostAccount>& account = accounts_[{s, qid}];
  if (!account) {
    account = std::make_shared<PostAccount>();
    account->key_ = {s, qid};
  }
  *lane = std::make_shared<PostLane>();
  (*lane)->seg = seg;
  std::lock_guard<std::mutex> alock(account->mu_);
  account->lanes_.push_back(*lane);
  return account;
}

void PostQuotas::Leave(const std::shared_ptr<PostAccount>& account,
                       const std::shared_ptr<PostLane>& lane, bool receiverGone) {
  std::lock_guard<std::mutex> lock(mu_);
  std::unique_lock<std::mutex> alock(account->mu_);
  lane->closed.store(true, std::memory_order_release);
  // A receiver that is gone lets go of nothing any more: its account goes.
  if (receiverGone) account->lanes_.clear();
  bool closedLeft = account->Refresh();
  bool empty = account->lanes_.empty();
  alock.unlock();
  Sort(account, closedLeft, empty);
}

void PostQuotas::Sort(const std::shared_ptr<PostAccount>& account, bool closedLeft, bool empty) {
  if (closedLeft) {
    lingering_.insert(account);
    return;
  }
  lingering_.erase(account);
  if (!empty) return;  // connections use it still
  auto it = accounts_.find(account->key_);
  if (it != accounts_.end() && it->second == account) accounts_.erase(it);
}

void PostQuotas::ChildAfterFork() {
  accounts_.clear();
  lingering_.clear();
  mu_.unlock();
}

}  // namespace plat::msgimpl
