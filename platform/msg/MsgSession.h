// Owns the session's shared tables below <session>/msg/: the id counter, this
// process's liveness lock (file p<id>) and the window entries (files w<hwnd>).
//
// Across processes, below <session>/msg/:
//   counter     4-byte counter under flock: window handles, queue and process ids
//   p<id>       one file per process, exclusively flock'ed while it lives
//   q<id>       the SOCK_SEQPACKET listening socket of one queue (see MsgLinks.h)
//   b<id>       the same queue's listening socket for broadcasts
//   w<hwnd>     a symbolic link per window whose target is
//               "<process id>.<queue id>.<pid>.<tid>.<top-level 0|1>"
// A process removes its own files when it ends (RemoveOwnFiles, at exit);
// what a killed one left is swept by the next process that registers.
// Internal to the message layer; the public interface is Msg.h.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/kernel/FileLock.h"
#include "platform/msg/Msg.h"

namespace plat::msgimpl {

int64_t NowNs();
std::string LowerAscii(const std::string& s);
std::string Hex8(uint32_t v);
// Parses an unsigned decimal or hex number that must fill [begin, end).
bool ParseNum(const char* begin, const char* end, int base, uint32_t* out);
// The last-error code a failed system call's errno reports to callers.
DWORD ErrorFromErrno(int err);

struct Entry {
  uint32_t procId = 0;
  uint32_t queueId = 0;
  uint32_t pid = 0;
  uint32_t tid = 0;
  bool top = false;
};

// One session directory as this process sees it. Made by the process state
// (MsgProcess.h) when a session directory is first used; never freed.
struct Session {
  std::string dir;
  std::string msgDir;
  int counterFd = -1;
  uint32_t procId = 0;  // 0 until this process registered itself
  int procLockFd = -1;
  pid_t procPid = 0;   // the process that holds procLockFd (not a forked child)
  std::mutex mu;       // guards procId/procLockFd/procPid
  std::mutex allocMu;  // one thread at a time in AllocId
  // The window entries and queue sockets this process made and still has.
  std::mutex filesMu;
  pid_t filesPid = 0;  // whose files these are: a forked child starts without
  std::unordered_set<HWND> ownEntries;
  std::unordered_set<uint32_t> ownQueues;
};

// Opens the counter of a session directory (creating msg/ when missing).
void OpenSession(Session& s, const std::string& dir);

// Next session-wide id; never 0 and never HWND_BROADCAST (0 on failure).
uint32_t AllocId(Session& s);
// Registers this process in the session (its liveness lock) once, then sweeps
// the files of dead processes; 0 on failure.
uint32_t ProcessId(Session& s);
bool ProcessAlive(Session& s, uint32_t procId);

std::string EntryPath(Session& s, HWND hwnd);
std::string QueuePath(Session& s, uint32_t queueId);
std::string BroadcastPath(Session& s, uint32_t queueId);
// Drops what a dead process left behind for one of its windows.
void ForgetDeadEntry(Session& s, HWND hwnd, const Entry& e);
// 0, or the errno of the failed write.
int WriteEntry(Session& s, HWND hwnd, const Entry& e);
// Removes the entry of one of this process's windows.
void RemoveEntry(Session& s, HWND hwnd);
// Notes the sockets of a queue of this process made (own) or removed (!own).
void OwnQueueFile(Session& s, uint32_t queueId, bool own);
// Process end: removes this process's entries, queue sockets and liveness file.
void RemoveOwnFiles(Session& s);
bool ReadEntry(Session& s, HWND hwnd, Entry* e);
// Every top-level window entry of the session, by handle.
std::vector<std::pair<HWND, Entry>> TopLevelEntries(Session& s);

}  // namespace plat::msgimpl
