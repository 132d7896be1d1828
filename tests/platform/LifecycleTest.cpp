// What each library's state is in a forked child and in a new desktop
// session: the child keeps nothing of its parent's, the session nothing of the
// one before, and both can make their own windows, drawings, sockets, kernel
// objects, keys and pool timers.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "components/KitApplication.h"
#include "framework/Classes.h"
#include "framework/ControlPaint.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "platform/display/Display.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/MmTimer.h"
#include "platform/net/Net.h"
#include "platform/registry/Registry.h"
#include "platform/shell/DesktopState.h"
#include "platform/shell/TrayIcon.h"
#include "sockets/NetSocket.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/MessagePump.h"
#include "tests/support/TestSession.h"

namespace {

using namespace plat;
using vexa::test::ReadUntilClosed;
using vexa::test::TestSession;

HWND MakeBox() {
  WNDCLASS wc;
  wc.lpszClassName = "LifecycleBox";
  if (!RegisterClass(wc) && !GetClassInfo(wc.lpszClassName, nullptr)) return 0;
  return CreateWindowEx(0, "LifecycleBox", "", WS_OVERLAPPED, 0, 0, 30, 40, 0, 0);
}

bool AddIcon(HWND hwnd) {
  NOTIFYICONDATA icon;
  icon.cbSize = sizeof icon;
  icon.hWnd = hwnd;
  icon.uID = 1;
  return Shell_NotifyIcon(NIM_ADD, &icon);
}

// Listens on a free loopback port with the socket unit: "listening" or why not.
std::string UnitListens() {
  try {
    vexa::TNetSocket s(nullptr);
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    s.Listen();
    return s.State() == vexa::wsListening ? "listening" : "not listening";
  } catch (const std::exception& e) {
    return e.what();
  }
}

// Makes and frees a hidden utility window of the framework: whether it could.
bool UtilityWindowMade() {
  try {
    fw::DeallocateHWnd(fw::AllocateHWnd(fw::TWndMethod()));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

constexpr const char* kMutexName = "LifecycleMutex";

bool TimerFires() {
  static std::atomic<bool> fired;
  fired = false;
  auto fire = [](uint32_t, uint32_t, uintptr_t, uintptr_t, uintptr_t) { fired = true; };
  timeSetEvent(1, 1, fire, 0, TIME_ONESHOT);
  return vexa::test::WaitUntil([] { return fired.load(); });
}

struct ParentsHandles {
  HBRUSH brush;
  SOCKET socket;
  HANDLE mutex;  // owned by the forking thread
  HKEY key;
};

// What a forked child finds, one line per library; its parent's handles are
// given.
std::string ChildsReport(const ParentsHandles& parents) {
  std::string r;
  r += "kernel " + std::to_string(WaitForSingleObject(parents.mutex, 0));
  r += " " + std::to_string(CreateEvent("", true, false) > parents.mutex);
  r += " " + std::to_string(TimerFires()) + "\n";
  HKEY ownKey = 0;
  r += "registry " + std::to_string(RegQueryInfoKey(parents.key, nullptr, nullptr));
  RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Lifecycle", KEY_ALL_ACCESS, &ownKey, nullptr);
  r += " " + std::to_string(ownKey > parents.key) + "\n";
  r += "components " + std::to_string(vexa::KitApplicationExists());
  r += " " + std::to_string(vexa::KitApplication->GetTimer(0xFD01) != nullptr) + "\n";
  HWND mine = MakeBox();
  r += "window " + std::to_string(mine != 0) + "\n";
  HDC dc = CreateCompatibleDC(0);
  SelectObject(dc, CreateCompatibleBitmap(GetDC(0), 4, 4));
  SetPixel(dc, 1, 1, RGB(9, 8, 7));
  r += "gdi " + std::to_string(GetObjectType(parents.brush));
  r += " " + std::to_string(GetPixel(dc, 1, 1) == RGB(9, 8, 7)) + "\n";
  POINT at{};
  GetCursorPos(&at);
  r += "pointer " + std::to_string(at.x) + "," + std::to_string(at.y) + "\n";
  r += "display " + std::to_string(GetCapture()) + "\n";
  // The parent's worker waits for a call the parent runs, not the child.
  r += "framework " + std::to_string(UtilityWindowMade());
  r += " " + std::to_string(fw::CheckSynchronize()) + "\n";
  r += "tray " + std::to_string(GetNotifyIcons().size());
  r += " " + std::to_string(AddIcon(mine)) + "\n";
  // Before this process starts the platform's socket library itself.
  r += "unit " + UnitListens() + "\n";
  WSADATA data;
  WSAStartup(0x0101, &data);
  int port = 0;
  SOCKET own = vexa::test::RawListen(port);
  r += "net " + std::to_string(send(parents.socket, "x", 1, 0));
  r += " " + std::to_string(WSAGetLastError()) + " " + std::to_string(own != INVALID_SOCKET) + "\n";
  return r;
}

}  // namespace

// The child keeps no window, drawing object, icon, socket, display or queued
// call of its parent's, and none of the parent's connections: the far end of
// one the parent closes sees it closed while the child lives.
TEST(Lifecycle, AForkedChildStartsEachLibraryFromAStateOfItsOwn) {
  TestSession session;
  setenv("VEXA_HEADLESS", "1", 1);
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(0x0101, &data));
  HWND w = MakeBox();
  ASSERT_NE(w, 0u);
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_TRUE(AddIcon(w));
  SetCursorPos(5, 7);
  InitDisplay();
  SetCapture(w);
  ASSERT_TRUE(UtilityWindowMade());
  auto synced = std::make_shared<std::atomic<bool>>(false);
  std::thread([synced] {
    fw::TThread::Synchronize([] {});
    *synced = true;
  }).detach();
  bool asked = false;  // the worker's wake-up for this thread
  EXPECT_TRUE(vexa::test::WaitUntil([&] {
    MSG m;
    while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) asked |= m.hwnd == 0 && m.message == WM_NULL;
    return asked;
  }));
  vexa::TNetSocket keeper(nullptr);  // keeps the unit's library loaded
  keeper.SetLocalAddr("127.0.0.1");
  int port = 0;
  SOCKET listener = vexa::test::RawListen(port);
  SOCKET near = vexa::test::RawConnect(port);
  SOCKET far = accept(listener, nullptr, nullptr);
  ASSERT_NE(far, INVALID_SOCKET);
  HANDLE mutex = CreateMutex(kMutexName, true);
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Lifecycle", KEY_ALL_ACCESS, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_TRUE(TimerFires());  // the timer thread runs
  ASSERT_EQ(vexa::KitApplication->AddTimer(50, nullptr), 0xFD01);

  int report[2], hold[2];
  ASSERT_EQ(0, pipe(report));
  ASSERT_EQ(0, pipe(hold));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(report[0]);
    close(hold[1]);
    std::string r = ChildsReport({brush, near, mutex, key});
    bool written = write(report[1], r.data(), r.size()) == static_cast<ssize_t>(r.size());
    close(report[1]);
    pollfd p{hold[0], POLLIN, 0};
    poll(&p, 1, static_cast<int>(vexa::test::kWaitLimit.count()));  // until the parent is done
    _exit(written ? 0 : 1);
  }
  close(report[1]);
  close(hold[0]);
  EXPECT_EQ(ReadUntilClosed(report[0]),
            "kernel 4294967295 1 1\n"
            "registry 6 1\n"
            "components 0 0\n"
            "window 1\n"
            "gdi 0 1\n"
            "pointer 5,7\n"
            "display 0\n"
            "framework 1 0\n"
            "tray 0 1\n"
            "unit listening\n"
            "net -1 10038 1\n");
  close(report[0]);

  // Closed here, the mutex is free: the child, still running, holds no copy.
  EXPECT_TRUE(CloseHandle(mutex));
  HANDLE again = CreateMutex(kMutexName, false);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the child keeps the parent's mutex open";
  CloseHandle(again);
  EXPECT_EQ(closesocket(near), 0);
  plat::u_long on = 1;
  ioctlsocket(far, FIONBIO, &on);
  int got = -2;
  EXPECT_TRUE(vexa::test::WaitUntil([&] {
    char c;
    got = recv(far, &c, 1, 0);
    return got >= 0;
  })) << "the child holds the connection open";
  EXPECT_EQ(got, 0) << "the far end read what the child sent on its parent's socket";
  close(hold[1]);
  int status = -1;
  EXPECT_TRUE(vexa::test::WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(GetObjectType(brush), OBJ_BRUSH) << "the parent's own objects stay";
  EXPECT_EQ(GetNotifyIcons().size(), 1u);
  EXPECT_EQ(GetCapture(), w);
  EXPECT_TRUE(vexa::test::WaitUntil([&] {
    fw::CheckSynchronize();
    return synced->load();
  })) << "the parent runs its worker's call";
  std::string fromWorker;
  std::thread([&] {
    fromWorker =
        vexa::test::ForkedChildsReport([] { return fw::IsMainThread() ? "main" : "other"; });
  }).join();
  EXPECT_EQ(fromWorker, "main") << "the only thread of a child forked by a worker is its main one";
  closesocket(far);
  closesocket(listener);
  WSACleanup();
}

// Handles count from the same start in every session: what the ended one's
// window of a number held (its picture, socket notices, socket object, form)
// must not reach the new one's window of that number. Settings of the desktop go
// back to their defaults. The old session's named objects are closed, so the
// process no longer holds their names there, and the component library's
// application object and its pool timers begin again.
TEST(Lifecycle, ANewSessionStartsEachLibraryAfresh) {
  setenv("VEXA_HEADLESS", "1", 1);
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(0x0101, &data));
  int port = 0;
  SOCKET listener = vexa::test::RawListen(port);
  SOCKET near = vexa::test::RawConnect(port);
  SOCKET far = accept(listener, nullptr, nullptr);
  ASSERT_NE(far, INVALID_SOCKET);
  auto first = std::make_optional<TestSession>();
  auto keeper = std::make_unique<vexa::TNetSocket>(nullptr);
  const HWND socketWindow = keeper->Handle();
  const HWND painted = MakeBox();
  ASSERT_NE(painted, 0u);
  HDC dc = GetDC(painted);
  RECT all{0, 0, 30, 40};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &all, red);
  ReleaseDC(painted, dc);
  auto* form = fw::CreateFormOf<fw::TForm>(nullptr);  // outlives the session
  auto* edit = new fw::TEdit(form);
  edit->SetParent(form);
  form->Show();
  edit->SetFocus();
  const HWND formWindow = form->Handle();
  fw::InitApplicationDisplay();
  SetCapture(painted);
  const int window = COLOR_WINDOW;
  const COLORREF dark = RGB(1, 2, 3);
  SetSysColors(1, &window, &dark);
  SetScreenSize(640, 480);
  SetCursorPos(5, 7);
  ASSERT_TRUE(AddIcon(painted));
  ASSERT_EQ(send(near, "ab", 2, 0), 2);
  plat::u_long waiting = 0;
  ASSERT_TRUE(vexa::test::WaitUntil(
      [&] { return ioctlsocket(far, FIONREAD, &waiting) == 0 && waiting == 2; }));
  ASSERT_EQ(WSAAsyncSelect(far, painted, WM_USER + 1, FD_READ), 0);  // a read notice is posted
  const HANDLE mutex = CreateMutex(kMutexName, true);
  ASSERT_EQ(vexa::KitApplication->AddTimer(50, nullptr), 0xFD01);

  TestSession second;  // the first session's directory stays, to be looked at at the end
  ASSERT_EQ(MakeBox(), socketWindow) << "the new session's first window has the old one's number";
  const HWND fresh = MakeBox();
  ASSERT_EQ(fresh, painted);
  dc = GetDC(fresh);
  EXPECT_NE(GetPixel(dc, 5, 5), RGB(255, 0, 0)) << "the old window's picture";
  ReleaseDC(fresh, dc);
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), RGB(255, 255, 255));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  POINT at{};
  GetCursorPos(&at);
  EXPECT_EQ(at.x, 0);
  EXPECT_EQ(at.y, 0);
  EXPECT_TRUE(GetNotifyIcons().empty());
  EXPECT_EQ(GetCapture(), 0u);
  EXPECT_FALSE(fw::ControlPaintActive());
  HWND reused = 0;
  for (int i = 0; i < 16 && reused != formWindow; ++i) reused = MakeBox();
  ASSERT_EQ(reused, formWindow);
  EXPECT_EQ(fw::FindControl(reused), nullptr) << "the old form has the new window's messages";
  EXPECT_FALSE(edit->Focused());
  delete form;
  EXPECT_TRUE(IsWindow(reused)) << "the old form took the new window with it";
  char c;
  ASSERT_EQ(recv(far, &c, 1, 0), 1);  // a byte is left: read notices go on
  MSG m;
  EXPECT_FALSE(PeekMessage(&m, fresh, WM_USER + 1, WM_USER + 1, PM_REMOVE))
      << "an old socket notice";
  keeper.reset();
  EXPECT_TRUE(IsWindow(socketWindow)) << "the old socket object took the new window with it";
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_FAILED) << "the old session's mutex is usable";
  EXPECT_EQ(vexa::KitApplication->AddTimer(50, nullptr), 0xFD01);
  closesocket(near);
  closesocket(far);
  closesocket(listener);
  WSACleanup();

  UseSessionDir(first->SessionDir());
  ResetSessionDirForTesting();
  HANDLE again = CreateMutex(kMutexName, false);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the process holds the old session's mutex still";
  CloseHandle(again);
  UseSessionDir("");
}
