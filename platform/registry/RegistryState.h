// The registry library's process-wide state, in one owner (St()); internal to
// this folder.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/registry/Registry.h"

namespace plat::registryimpl {

struct OpenKey {
  HKEY Root = 0;
  std::string Path;
  REGSAM Access = 0;
};

// Lock order: keysMu and profileMu are each taken alone; a store file's own
// lock is taken under them.
// A forked child starts with no open keys, their handles going on from the
// parent's numbers so that none of the parent's names a key of the child's,
// and names an unwritable store again. The store itself is no session's: open
// keys stay open when the process leaves its session.
struct State {
  std::mutex keysMu;  // the handle table and this process's store changes
  std::map<HKEY, OpenKey> handles;
  std::atomic<HKEY> nextHandle{1};  // read unlocked by a forked child
  std::set<std::string> reported;   // stores named as unwritable on standard error

  std::mutex profileMu;  // profile writers of this process; other processes are kept out by flock

  State* ForChild() {
    auto* mine = new State;
    mine->nextHandle.store(nextHandle.load());
    return mine;
  }
};

State& St();

}  // namespace plat::registryimpl
