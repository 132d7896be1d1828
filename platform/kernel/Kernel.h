// Kernel services of the desktop session: named mutexes and events, debug
// output, clocks and the session directory every named object lives in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace plat {

using HANDLE = uint32_t;  // 0 = no handle
using DWORD = uint32_t;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILE_CORRUPT = 1392;  // a session file that does not read as written
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;  // a receiving queue holds too many unread posts

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;

// Last error of the calling thread, set by every routine of platform/ that fails.
DWORD GetLastError();
void SetLastError(DWORD code);

// The session directory (the one UseSessionDir named, else VEXA_SESSION_DIR,
// else $XDG_RUNTIME_DIR/vexa, else /tmp/vexa-<uid>), created with mode 0700 on
// first use. While it is refused (SessionDirRefusal) this names a place where
// nothing can be made, so everything that needs the session fails.
const std::string& SessionDir();
// "" when the session directory can be used, else why not: "session directory
// <dir> <reason>; refusing to use it". Refused: one that cannot be made, is a
// symbolic link, is owned by another user or may be written by others, unless
// it is shared with its group (setgid, group rwx, nobody else may write, this
// process its owner or in the group). Programs ask first and end naming it; code loaded
// into another program reports it and carries on without the session.
std::string SessionDirRefusal();
// Names the session directory of this process in place of the environment
// ("" goes back to it); takes effect when the session is next settled.
void UseSessionDir(const std::string& dir);
// Files made in the session: owner-only, or also the group's in a session
// shared with its group. ShareSessionFile / ShareSessionPath set that mode
// again on what this process just made (its umask may have cut it).
unsigned SessionFileMode();
void ShareSessionFile(int fd);
void ShareSessionPath(const std::string& path);
// Forgets the cached session directory so the next call reads the environment
// again (tests switch sessions inside one process).
void ResetSessionDirForTesting();
// Counts the session changes of this process (0 until the first), so state
// that belongs to one session can tell it has ended.
uint32_t SessionGeneration();
// Reads the environment again: when it names another session directory than
// the one in use, that session ends (as with ResetSessionDirForTesting) and
// the answer is true. For code loaded into a host whose session may change.
bool FollowSessionDirOfEnvironment();
// Registers work to run when this process leaves its session (before the next
// one begins): objects made once per program that belong to one session free
// or renew themselves there. Handlers run in reverse order of registration,
// before those of the platform's libraries (Lifecycle.h).
void AtSessionEnd(std::function<void()> handler);

// Named mutex: create or open. Sets the last error to ERROR_ALREADY_EXISTS when
// the name was already open somewhere in the session (this or another process).
// An empty name makes a private mutex. Returns 0 on failure.
HANDLE CreateMutex(const std::string& name, bool initialOwner);
bool ReleaseMutex(HANDLE mutex);

// Named event (the name may be empty). Manual-reset events stay set until reset.
HANDLE CreateEvent(const std::string& name, bool manualReset, bool initialState);
HANDLE OpenEvent(const std::string& name);  // 0 when no such event exists
bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);
bool IsEventSet(HANDLE event);

// Waits on a mutex or an event. For a mutex: WAIT_OBJECT_0 acquired,
// WAIT_ABANDONED acquired from an owner that died holding it, WAIT_TIMEOUT.
DWORD WaitForSingleObject(HANDLE object, DWORD timeoutMs);
bool CloseHandle(HANDLE object);

// Debug output: one line to the current sink (if any) and to standard error
// when VEXA_DEBUG is set. The sink may be called from any thread.
void OutputDebugString(const std::string& text);
using DebugSink = std::function<void(const std::string&)>;
DebugSink SetDebugSink(DebugSink sink);  // returns the previous sink

// Clocks.
DWORD GetTickCount();  // milliseconds since an arbitrary start, wraps
bool QueryPerformanceCounter(int64_t* count);
bool QueryPerformanceFrequency(int64_t* frequency);
void Sleep(DWORD ms);

DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();  // small per-process number, never 0

// Lifts the process's soft limit of open descriptors to its hard limit, so a
// program with many sessions is not held to the small default. Programs call
// it once at start.
void RaiseDescriptorLimit();

}  // namespace plat
