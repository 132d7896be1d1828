// Windows, queues, timers and registered messages inside one process.
#include <gmock/gmock.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "platform/kernel/Invariant.h"
#include "platform/msg/Msg.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

using namespace plat;

namespace {

struct Log {
  std::vector<std::pair<HWND, UINT>> calls;
};

// Registers a class whose procedure records every message and answers
// WM_USER with wParam + lParam.
void RegisterRecording(const std::string& name, Log* log, LRESULT createResult = 0) {
  WNDCLASS wc;
  wc.lpszClassName = name;
  wc.cbWndExtra = 8;
  wc.lpfnWndProc = [log, createResult](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (log) log->calls.emplace_back(h, m);
    if (m == WM_CREATE) return createResult;
    if (m == WM_USER) return w + l;
    return DefWindowProc(h, m, w, l);
  };
  ASSERT_TRUE(RegisterClass(wc));
}

HWND Make(const std::string& cls, HWND parent = 0) {
  return CreateWindowEx(0, cls, "w", parent ? WS_CHILD : WS_OVERLAPPED, 1, 2, 30, 40, parent, 7);
}

}  // namespace

TEST(MsgWindow, ClassNamesIgnoreCaseAndCreationSendsMessagesInOrder) {
  vexa::test::TestSession session;
  Log log;
  RegisterRecording("TMainForm", &log);
  WNDCLASS dup;
  dup.lpszClassName = "tmainFORM";
  EXPECT_FALSE(RegisterClass(dup));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  WNDCLASS info;
  ASSERT_TRUE(GetClassInfo("TMAINFORM", &info));
  EXPECT_EQ(info.cbWndExtra, 8);

  HWND h = Make("tmainform");
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(IsWindow(h));
  ASSERT_EQ(log.calls.size(), 2u);
  EXPECT_EQ(log.calls[0], std::make_pair(h, WM_NCCREATE));
  EXPECT_EQ(log.calls[1], std::make_pair(h, WM_CREATE));
  EXPECT_EQ(GetTopLevelWindows(), std::vector<HWND>{h});
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(h, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());
  EXPECT_EQ(CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 0, 0, 0, 0), 0u);
  EXPECT_FALSE(UnregisterClass("TMainForm"));  // still has a window
}

TEST(MsgWindow, FailedCreateLeavesNoWindow) {
  vexa::test::TestSession session;
  Log log;
  RegisterRecording("Refuses", &log, -1);
  EXPECT_EQ(Make("Refuses"), 0u);
  ASSERT_GE(log.calls.size(), 2u);
  HWND h = log.calls[0].first;
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(log.calls.back(), std::make_pair(h, WM_NCDESTROY));
  EXPECT_TRUE(GetTopLevelWindows().empty());
}

TEST(MsgWindow, DestroyReachesChildrenAndDropsQueuedMessages) {
  vexa::test::TestSession session;
  Log log;
  RegisterRecording("Box", &log);
  HWND parent = Make("Box");
  HWND child = Make("Box", parent);
  HWND second = Make("Box", parent);
  EXPECT_EQ(GetParent(child), parent);
  EXPECT_EQ(GetChildWindows(parent), (std::vector<HWND>{child, second}));
  EXPECT_EQ(GetTopLevelWindows(), std::vector<HWND>{parent});
  ASSERT_TRUE(PostMessage(child, WM_USER, 1, 2));
  ASSERT_TRUE(SetTimer(parent, 1, 1));
  log.calls.clear();
  EXPECT_TRUE(DestroyWindow(parent));
  std::vector<std::pair<HWND, UINT>> expected{{parent, WM_DESTROY}, {child, WM_DESTROY},
                                              {child, WM_NCDESTROY}, {second, WM_DESTROY},
                                              {second, WM_NCDESTROY}, {parent, WM_NCDESTROY}};
  EXPECT_EQ(log.calls, expected);
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(PostMessage(child, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  usleep(5000);
  MSG m;
  EXPECT_FALSE(PeekMessage(&m, 0, 0, 0, PM_REMOVE));  // neither the post nor the timer survive
  EXPECT_FALSE(DestroyWindow(parent));
}

TEST(MsgWindow, LongsTextGeometryAndState) {
  vexa::test::TestSession session;
  Log log;
  RegisterRecording("Longs", &log);
  HWND h = Make("Longs");
  EXPECT_EQ(GetWindowLong(h, GWL_ID), 7);
  EXPECT_EQ(SetWindowLong(h, GWL_USERDATA, 42), 0);
  EXPECT_EQ(GetWindowLong(h, GWL_USERDATA), 42);
  EXPECT_EQ(SetWindowLong(h, 4, -5), 0);
  EXPECT_EQ(GetWindowLong(h, 4), -5);
  EXPECT_EQ(GetWindowLong(h, 0), 0);
  EXPECT_EQ(GetWindowLong(h, 5), 0);  // would read past the 8 extra bytes
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetWindowLong(h, 8, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  EXPECT_EQ(GetWindowText(h), "w");
  SetWindowText(h, "Notify Server");
  EXPECT_EQ(GetWindowText(h), "Notify Server");
  RECT r;
  ASSERT_TRUE(GetWindowRect(h, &r));
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.bottom, 42);
  log.calls.clear();
  MoveWindow(h, 1, 2, 50, 60, true);
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0].second, WM_SIZE);
  GetClientRect(h, &r);
  EXPECT_EQ(r.right, 50);
  EXPECT_EQ(r.bottom, 60);

  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_FALSE(ShowWindow(h, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(h));
  EXPECT_TRUE(ShowWindow(h, SW_MINIMIZE));
  EXPECT_TRUE(IsIconic(h));
  ShowWindow(h, SW_RESTORE);
  EXPECT_FALSE(IsIconic(h));
  EXPECT_FALSE(EnableWindow(h, false));
  EXPECT_FALSE(IsWindowEnabled(h));
  EXPECT_TRUE(EnableWindow(h, true));
  EXPECT_TRUE(GetWindowLong(h, GWL_STYLE) & static_cast<LONG>(WS_VISIBLE));
}

TEST(MsgWindow, SubclassingChainsToTheReplacedProcedure) {
  vexa::test::TestSession session;
  RegisterRecording("Sub", nullptr);
  HWND h = Make("Sub");
  EXPECT_EQ(SendMessage(h, WM_USER, 2, 3), 5);
  WNDPROC old = SetWindowProc(h, nullptr);
  ASSERT_TRUE(static_cast<bool>(old));
  SetWindowProc(h, [old](HWND w, UINT m, WPARAM a, LPARAM b) -> LRESULT {
    if (m == WM_USER) return 100 * CallWindowProc(old, w, m, a, b);
    return CallWindowProc(old, w, m, a, b);
  });
  EXPECT_EQ(SendMessage(h, WM_USER, 2, 3), 500);
  WNDPROC mine = GetWindowProc(h);
  EXPECT_EQ(CallWindowProc(mine, h, WM_USER, 1, 1), 200);
  SetWindowProc(h, old);
  EXPECT_EQ(SendMessage(h, WM_USER, 2, 3), 5);
  // WM_CLOSE through the default procedure destroys the window.
  SendMessage(h, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(h));
}

TEST(MsgQueue, PostedInOrderQuitLastAndFilters) {
  vexa::test::TestSession session;
  RegisterRecording("Q", nullptr);
  HWND a = Make("Q");
  HWND b = Make("Q");
  for (int i = 0; i < 5; ++i) PostMessage(i % 2 ? a : b, WM_USER + i, i, 0);
  PostQuitMessage(3);
  PostThreadMessage(GetCurrentThreadId(), WM_APP, 9, 0);
  MSG m;
  ASSERT_TRUE(PeekMessage(&m, a, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 1);
  ASSERT_TRUE(PeekMessage(&m, 0, WM_USER + 3, WM_USER + 4, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 3);
  std::vector<UINT> seen;
  vexa::test::QuitAtDeadline deadline;
  while (GetMessage(&m, 0, 0, 0)) seen.push_back(m.message);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER, WM_USER + 1, WM_USER + 2, WM_USER + 4, WM_APP}));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3);
  EXPECT_FALSE(PeekMessage(&m, 0, 0, 0, PM_REMOVE));
}

TEST(MsgQueue, SentMessagesAreHandledBeforePostedOnes) {
  vexa::test::TestSession session;
  Log log;
  RegisterRecording("S", &log);
  HWND h = Make("S");
  log.calls.clear();
  PostMessage(h, WM_USER + 1, 0, 0);
  LRESULT result = 0;
  std::atomic<bool> queued{false};
  std::thread sender([&] {
    queued = true;
    result = SendMessage(h, WM_USER, 20, 22);
  });
  ASSERT_TRUE(vexa::test::WaitUntil([&] { return queued.load(); }));
  MSG m;
  // Waiting handles the sent message when it arrives; retrieval then returns
  // only the posted one.
  ASSERT_TRUE(vexa::test::PumpUntil([&] { return !log.calls.empty(); }, vexa::test::kWaitLimit, [] {}));
  ASSERT_TRUE(GetMessage(&m, 0, 0, 0));
  sender.join();
  EXPECT_EQ(m.message, WM_USER + 1);
  EXPECT_EQ(result, 42);
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0].second, WM_USER);
}

TEST(MsgQueue, TwoThreadsSendingToEachOtherBothComplete) {
  vexa::test::TestSession session;
  RegisterRecording("Mutual", nullptr);
  HWND mine = Make("Mutual");
  std::atomic<HWND> theirs{0};
  LRESULT theirResult = 0;
  std::thread other([&] {
    theirs = Make("Mutual");
    theirResult = SendMessage(mine, WM_USER, 1, 1);
    MSG m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) {
    }
  });
  ASSERT_TRUE(vexa::test::WaitUntil([&] { return theirs.load() != 0; }));
  LRESULT myResult = SendMessage(theirs, WM_USER, 2, 2);
  other.join();
  EXPECT_EQ(myResult, 4);
  EXPECT_EQ(theirResult, 2);
  // The other thread is gone: its window went with it and sending fails.
  EXPECT_FALSE(IsWindow(theirs));
  LRESULT r = 99;
  EXPECT_FALSE(SendMessageTimeout(theirs, WM_USER, 1, 1, 1000, &r));
  EXPECT_EQ(r, 0);
}

TEST(MsgQueue, PostingFromManyThreadsLosesNothing) {
  vexa::test::TestSession session;
  RegisterRecording("Many", nullptr);
  HWND h = Make("Many");
  constexpr int kThreads = 8, kEach = 2000;
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t) {
    ts.emplace_back([=] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(PostMessage(h, WM_USER, t, i));
    });
  }
  std::vector<int> next(kThreads, 0);
  int got = 0;
  MSG m;
  vexa::test::QuitAtDeadline deadline;
  while (got < kThreads * kEach && GetMessage(&m, 0, 0, 0)) {
    ASSERT_EQ(m.lParam, next[m.wParam]++);  // per sender, first in first out
    ++got;
  }
  for (auto& t : ts) t.join();
  EXPECT_EQ(got, kThreads * kEach);
}

// Threads making windows at the same moment each get handles of their own:
// the session's id counter hands out every number once, also within one process.
TEST(MsgQueue, ThreadsMakingWindowsAtOnceGetHandlesOfTheirOwn) {
  vexa::test::TestSession session;
  RegisterRecording("Racing", nullptr);
  constexpr int kThreads = 16, kEach = 50;
  std::atomic<int> ready{0};
  std::vector<std::vector<HWND>> made(kThreads);
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t) {
    ts.emplace_back([&, t] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) made[t].push_back(Make("Racing"));
    });
  }
  for (auto& t : ts) t.join();
  std::set<HWND> all;
  for (auto& list : made) {
    for (HWND h : list) {
      EXPECT_NE(h, 0u);
      all.insert(h);
    }
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

// A send that timed out is never handled, also when the busy thread looks
// at its queue later: the sender was told it failed.
TEST(MsgQueue, SendTimeoutToABusyThreadFailsAndIsNeverHandled) {
  vexa::test::TestSession session;
  Log log;
  RegisterRecording("Busy", &log);
  std::atomic<HWND> h{0};
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    h = Make("Busy");
    while (!stop) usleep(1000);  // never looks at its queue
    vexa::test::DispatchQueued();
    log.calls.emplace_back(0, WM_NULL);
  });
  ASSERT_TRUE(vexa::test::WaitUntil([&] { return h.load() != 0; }));
  LRESULT r = 1;
  EXPECT_FALSE(SendMessageTimeout(h, WM_USER, 1, 1, 50, &r));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  stop = true;
  owner.join();
  EXPECT_EQ(log.calls.back(), std::make_pair(HWND(0), UINT(WM_NULL)));
  for (auto& call : log.calls) EXPECT_NE(call.second, UINT(WM_USER));
}

// A queue whose own wait breaks (only a bug of ours can; here another
// descriptor takes the place of its epoll set) must not spin: the message
// loop ends with an error, and checked builds name the broken invariant.
TEST(MsgQueue, ABrokenWaitEndsTheMessageLoopWithAnErrorInsteadOfSpinning) {
  vexa::test::TestSession session;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto breakAndWait = [] {
    alarm(20);  // a loop spinning on the broken wait ends here, failing the test
    MSG m;
    PeekMessage(&m, 0, 0, 0, PM_NOREMOVE);  // the thread's queue is made
    const int other = open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (std::filesystem::read_symlink(fd.path(), ec) == "anon_inode:[eventpoll]") {
        dup2(other, std::stoi(fd.path().filename()));
      }
    }
    const bool got = GetMessage(&m, 0, 0, 0);
    _exit(!got && m.hwnd == 0 && GetLastError() == ERROR_INVALID_HANDLE ? 0 : 1);
  };
  EXPECT_EXIT(breakAndWait(), testing::ExitedWithCode(0),
              kInvariantsChecked
                  ? "invariant broken: a queue's wait fails only when a signal interrupts it"
                  : "");
}

TEST(MsgTimer, IntervalsHoldWhilePostedMessagesFlow) {
  vexa::test::TestSession session;
  RegisterRecording("T", nullptr);
  HWND h = Make("T");
  int64_t freq = 0, start = 0, now = 0;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  ASSERT_EQ(SetTimer(h, 5, 20), 5u);
  int ticks = 0, posts = 0;
  std::vector<double> gaps;
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    while (!stop) {
      PostMessage(h, WM_USER, 0, 0);  // a steady flow of posted work
      usleep(1000);
    }
  });
  MSG m;
  vexa::test::QuitAtDeadline deadline;
  while (ticks < 6 && GetMessage(&m, 0, 0, 0)) {
    if (m.message == WM_USER) {
      ++posts;
    } else if (m.message == WM_TIMER) {
      EXPECT_EQ(m.wParam, 5);
      EXPECT_EQ(m.hwnd, h);
      QueryPerformanceCounter(&now);
      gaps.push_back(1000.0 * static_cast<double>(now - start) / static_cast<double>(freq));
      ++ticks;
    }
  }
  stop = true;
  poster.join();
  EXPECT_GT(posts, 6);
  // The n-th tick never comes before n intervals have passed, nor very late.
  ASSERT_EQ(gaps.size(), 6u);
  for (size_t i = 0; i < gaps.size(); ++i) {
    EXPECT_GE(gaps[i], 20.0 * static_cast<double>(i + 1)) << i;
    EXPECT_LE(gaps[i], 20.0 * static_cast<double>(i + 1) + 1000.0) << i;
  }
  EXPECT_TRUE(KillTimer(h, 5));
  EXPECT_FALSE(KillTimer(h, 5));
}

TEST(MsgTimer, KilledTimerNeverFiresAndBusyIntervalsCoalesce) {
  vexa::test::TestSession session;
  RegisterRecording("T2", nullptr);
  HWND h = Make("T2");
  SetTimer(h, 1, 5);
  SetTimer(h, 2, 5);
  usleep(60000);  // a dozen intervals pass without anyone looking
  MSG m;
  int first = 0, second = 0;
  while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) {
    if (m.message == WM_TIMER) (m.wParam == 1 ? first : second)++;
  }
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  KillTimer(h, 1);
  int fired2 = 0;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60;) {
    if (PeekMessage(&m, 0, 0, 0, PM_REMOVE) && m.message == WM_TIMER) {
      EXPECT_EQ(m.wParam, 2);
      ++fired2;
    }
    WaitMessageTimeout(10);
  }
  EXPECT_GT(fired2, 0);
}

TEST(MsgTimer, TimerProcRunsOnDispatchAndThreadTimersGetIds) {
  vexa::test::TestSession session;
  int calls = 0;
  uintptr_t id = SetTimer(0, 0, 1, [&](HWND h, UINT m, uintptr_t i, DWORD) {
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(m, WM_TIMER);
    ++calls;
    KillTimer(0, i);
  });
  ASSERT_NE(id, 0u);
  uintptr_t id2 = SetTimer(0, 0, 1000, nullptr);
  EXPECT_NE(id2, id);
  MSG m;
  ASSERT_TRUE(GetMessage(&m, 0, 0, 0));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(static_cast<uintptr_t>(m.wParam), id);
  DispatchMessage(&m);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(WaitMessageTimeout(20));
}

TEST(MsgRegistered, SameIdInAnyLetterCase) {
  vexa::test::TestSession session;
  UINT a = RegisterWindowMessage("DBNotification");
  UINT b = RegisterWindowMessage("DBTrans");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterWindowMessage("dbnotification"), a);
  EXPECT_EQ(RegisterWindowMessage("DBNOTIFICATION"), a);
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
  EXPECT_EQ(RegisterWindowMessage(std::string(300, 'n')), 0u);
}

TEST(MsgWatch, ReadableDescriptorCallsBackOnTheOwningThread) {
  vexa::test::TestSession session;
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::vector<uint32_t> seen;
  ASSERT_TRUE(WatchFd(p[0], EPOLLIN, [&](uint32_t ev) {
    seen.push_back(ev);
    char c;
    if (read(p[0], &c, 1) == 1) PostMessage(0, WM_USER, c, 0);
  }));
  std::thread([&] { ASSERT_EQ(write(p[1], "x", 1), 1); }).join();
  MSG m;
  ASSERT_TRUE(GetMessage(&m, 0, 0, 0));
  EXPECT_EQ(m.message, WM_USER);
  EXPECT_EQ(m.wParam, 'x');
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0] & EPOLLIN);
  EXPECT_TRUE(UnwatchFd(p[0]));
  ASSERT_EQ(write(p[1], "y", 1), 1);
  EXPECT_FALSE(WaitMessageTimeout(20));
  EXPECT_EQ(seen.size(), 1u);
  close(p[0]);
  close(p[1]);
}

TEST(MsgClose, SigtermBecomesACloseRequestInsideRetrieval) {
  vexa::test::TestSession session;
  std::vector<int> got;
  std::atomic<bool> handled{false};
  SetCloseRequestHandler([&](int sig) {
    got.push_back(sig);
    handled = true;
    PostQuitMessage(0);
  });
  // The sending thread stays until the request was handled: the kernel may
  // give the signal to it, and a thread sanitizer that holds signals back to
  // a safe point loses one whose thread ends first.
  std::thread sender([&] {
    kill(getpid(), SIGTERM);
    vexa::test::WaitUntil([&] { return handled.load(); });
  });
  MSG m;
  {
    vexa::test::QuitAtDeadline deadline;
    EXPECT_FALSE(GetMessage(&m, 0, 0, 0));
  }
  sender.join();
  EXPECT_EQ(got, std::vector<int>{SIGTERM});
  SetCloseRequestHandler(nullptr);
}

// Handles count from the same start in every session, so what a window of an
// ended session left behind (its entry, timer, queued post, handler registered
// at the end) must not reach the window of the new one that gets its number.
TEST(MsgSession, AChangeOfSessionEndsTheWindowsTimersAndMessagesOfTheOldOne) {
  Log old;
  static int sessionEnds = 0;
  static const bool registered = [] {
    AtSessionEnd([] { ++sessionEnds; });
    return true;
  }();
  ASSERT_TRUE(registered);
  HWND first = 0;
  {
    vexa::test::TestSession a;
    sessionEnds = 0;
    RegisterRecording("SessionBox", &old);
    first = Make("SessionBox");
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(SetTimer(first, 1, 1));
    ASSERT_TRUE(PostMessage(first, WM_USER, 1, 2));
    ASSERT_TRUE(SetTimer(0, 0, 1));  // a thread timer
  }
  EXPECT_EQ(sessionEnds, 1) << "the work registered for the session's end ran once";
  vexa::test::TestSession b;
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(GetTopLevelWindows().empty());
  old.calls.clear();
  HWND second = Make("SessionBox");
  EXPECT_EQ(second, first) << "the same number in the new session";
  old.calls.clear();
  usleep(5000);
  MSG m;
  EXPECT_FALSE(PeekMessage(&m, 0, 0, 0, PM_REMOVE)) << "no post, timer tick or quit of the old one";
  EXPECT_TRUE(old.calls.empty());
  EXPECT_EQ(GetTopLevelWindows(), std::vector<HWND>{second});
  EXPECT_TRUE(DestroyWindow(second));
}
