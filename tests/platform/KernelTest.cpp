// Named mutexes and events, debug output, session directory and clocks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <set>
#include <thread>
#include <vector>

#include "platform/kernel/Invariant.h"
#include "platform/kernel/Kernel.h"
#include "tests/support/TestSession.h"

using namespace plat;

TEST(KernelMutex, SecondOpenReportsAlreadyExistsAndSharesOwnership) {
  vexa::test::TestSession session;
  HANDLE a = CreateMutex("VexaInstall_Demo", true);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE b =
      CreateMutex("VexaInstall_Demo", true);  // initial ownership of an existing one is ignored
  ASSERT_NE(b, 0u);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  EXPECT_FALSE(ReleaseMutex(b));  // not the owner through this handle
  // Recursive ownership: two waits need two releases.
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(a));
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(a));
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(b));
  // Names are exact: another letter case is another mutex.
  HANDLE other = CreateMutex("vexainstall_demo", false);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(other));
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_TRUE(CloseHandle(b));
  EXPECT_FALSE(CloseHandle(b));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // With every handle closed the name is free again.
  HANDLE c = CreateMutex("VexaInstall_Demo", false);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(c);
}

TEST(KernelMutex, OwnedByOneThreadAtATime) {
  vexa::test::TestSession session;
  HANDLE m = CreateMutex("", false);
  ASSERT_NE(m, 0u);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  DWORD other = 0;
  std::thread([&] { other = WaitForSingleObject(m, 0); }).join();
  EXPECT_EQ(other, WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(m));
  std::thread([&] { other = WaitForSingleObject(m, INFINITE); ReleaseMutex(m); }).join();
  EXPECT_EQ(other, WAIT_OBJECT_0);
  CloseHandle(m);
}

TEST(KernelMutex, NamesWithPathCharactersStayInsideTheSession) {
  vexa::test::TestSession session;
  HANDLE a = CreateMutex("../..\\Global/evil name", false);
  ASSERT_NE(a, 0u);
  HANDLE b = CreateMutex("../..\\Global/evil name", false);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE c = CreateMutex(std::string(400, 'x'), false);
  EXPECT_NE(c, 0u);
  CloseHandle(a);
  CloseHandle(b);
  CloseHandle(c);
}

TEST(KernelEvent, ManualResetStaysSetUntilReset) {
  vexa::test::TestSession session;
  HANDLE e = CreateEvent("NotifyReady", true, false);
  ASSERT_NE(e, 0u);
  EXPECT_FALSE(IsEventSet(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  HANDLE o = OpenEvent("NotifyReady");
  ASSERT_NE(o, 0u);
  EXPECT_TRUE(SetEvent(o));
  EXPECT_TRUE(IsEventSet(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(e));
  EXPECT_FALSE(IsEventSet(o));
  HANDLE again = CreateEvent("NotifyReady", true, true);  // opens; initial state ignored
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(IsEventSet(again));
  CloseHandle(e);
  CloseHandle(o);
  CloseHandle(again);
  EXPECT_EQ(OpenEvent("NotifyReady"), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(KernelEvent, AutoResetReleasesOneWaitAndPrivateEventsWork) {
  vexa::test::TestSession session;
  HANDLE a = CreateEvent("Auto", false, true);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  HANDLE p = CreateEvent("", true, false);
  std::thread([&] { SetEvent(p); }).join();
  EXPECT_EQ(WaitForSingleObject(p, INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(IsEventSet(12345));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(a);
  CloseHandle(p);
}

TEST(KernelDebug, SinkReceivesEveryLineFromAnyThread) {
  std::vector<std::string> lines;
  std::mutex mu;
  DebugSink old = SetDebugSink([&](const std::string& s) {
    std::lock_guard<std::mutex> lock(mu);
    lines.push_back(s);
  });
  OutputDebugString("first");
  std::thread([] { OutputDebugString("from a thread"); }).join();
  DebugSink mine = SetDebugSink(old);
  EXPECT_TRUE(static_cast<bool>(mine));
  OutputDebugString("not captured");
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "from a thread"}));
}

TEST(KernelSession, DirectoryComesFromTheEnvironmentWithMode0700) {
  vexa::test::TestSession session;
  std::string dir = session.Root() + "/nested/sess";
  setenv("VEXA_SESSION_DIR", dir.c_str(), 1);
  ResetSessionDirForTesting();
  EXPECT_EQ(SessionDir(), dir);
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(KernelClock, CountersAndThreadIds) {
  int64_t f = 0, a = 0, b = 0;
  EXPECT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_GT(f, 0);
  QueryPerformanceCounter(&a);
  DWORD t0 = GetTickCount();
  Sleep(20);
  QueryPerformanceCounter(&b);
  EXPECT_GE(b - a, f / 50);  // never less than the time slept
  EXPECT_GE(GetTickCount() - t0, 20u);
  std::set<DWORD> ids{GetCurrentThreadId()};
  for (int i = 0; i < 3; ++i) std::thread([&] { ids.insert(GetCurrentThreadId()); }).join();
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_EQ(ids.count(0), 0u);
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST(KernelInvariant, CheckedBuildsNameTheBrokenOneOnceAndGoOnOthersNeverEvaluateIt) {
  int evaluated = 0;
  VEXA_INVARIANT(++evaluated == 1, "counted once");
  EXPECT_EQ(evaluated, kInvariantsChecked ? 1 : 0);
  if (!kInvariantsChecked)
    GTEST_SKIP() << "invariants are checked in Debug and sanitizer builds only";
  // Broken in a child of its own, so that this run's count stays clean.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int open = 2;
  auto broken = [open] { VEXA_INVARIANT(open == 3, "three transactions are open"); };
  const std::string line = std::string(__FILE__) + ":" + std::to_string(__LINE__ - 1) +
                           ": invariant broken: three transactions are open (open == 3)\n";
  EXPECT_EXIT(
      (broken(), broken(), _exit(BrokenInvariants() == 2 ? 0 : 1)), testing::ExitedWithCode(0),
      testing::AllOf(testing::HasSubstr(line), testing::Not(testing::HasSubstr(line + line))));
}
