// What another program could send a program's windows to close them, to end
// the program or to pass for the program's own private messages, for tests
// that check the program serves on.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "clients/VexaIPCClient.h"

namespace vexa::test {

// Finds the serving channel window of the instance and, twice, posts it WM_QUIT
// and sends it WM_CLOSE and WM_SYSCOMMAND SC_CLOSE; the window, or 0 when no
// server answered or a message could not be delivered.
inline plat::HWND SendStrayCloseAndQuit(const std::string& instance) {
  TVexaIPCClient finder(instance);
  if (!finder.FindServer(10000)) return 0;
  const plat::HWND channel = finder.ServerHandle();
  for (int i = 0; i < 2; ++i) {
    if (!plat::PostMessage(channel, plat::WM_QUIT, 0, 0) ||
        !plat::SendMessageTimeout(channel, plat::WM_CLOSE, 0, 0, 10000, nullptr) ||
        !plat::SendMessageTimeout(channel, plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0, 10000, nullptr)) {
      return 0;
    }
  }
  return channel;
}

// Every window of process pid: window handles are numbered from 0x10000 up
// within a session, so a look through the first ones finds them all.
inline std::vector<plat::HWND> WindowsOf(pid_t pid) {
  std::vector<plat::HWND> found;
  for (plat::HWND h = 0x10000; h < 0x14000; ++h) {
    plat::DWORD owner = 0;
    if (plat::GetWindowThreadProcessId(h, &owner) != 0 && owner == static_cast<plat::DWORD>(pid)) {
      found.push_back(h);
    }
  }
  return found;
}

struct StrayPost {
  plat::UINT Msg;
  plat::WPARAM WParam;
  plat::LPARAM LParam;
};

// Each private id (0x400-0x4FF, and the framework's 0xB000-0xB0FF) with zero
// and with random parameters; the socket events of the first 64 socket
// handles with every event bit, with and without an error; the freeing of
// the first 64 sessions; lookup answers; every mouse report of a tray icon;
// and the system's close, quit, destroy, end-of-session, timer and window
// commands.
inline std::vector<StrayPost> StrayPosts(uint32_t seed) {
  std::mt19937 rnd(seed);
  auto any = [&rnd] { return static_cast<int32_t>(rnd()); };
  std::vector<StrayPost> v;
  for (plat::UINT base : {plat::WM_USER, 0xB000u}) {
    for (plat::UINT id = base; id < base + 0x100; ++id) {
      v.push_back({id, 0, 0});
      v.push_back({id, any(), any()});
    }
  }
  for (int k = 0; k < 64; ++k) {
    v.push_back({plat::WM_USER + 1, 0x100 + k, 0x3F});
    v.push_back({plat::WM_USER + 1, 0x100 + k, (10054 << 16) | 0x3F});
    v.push_back({plat::WM_USER + 2, k + 1, 0});
    v.push_back({plat::WM_USER + 30, 0, k + 1});
  }
  for (plat::UINT mouse = plat::WM_MOUSEMOVE; mouse <= plat::WM_MBUTTONDBLCLK; ++mouse) {
    v.push_back({plat::WM_USER + 101, 0, static_cast<plat::LPARAM>(mouse)});
  }
  for (plat::UINT id : {plat::WM_CLOSE, plat::WM_QUIT, plat::WM_DESTROY, plat::WM_NCDESTROY,
                        plat::WM_QUERYENDSESSION, plat::WM_ENDSESSION, plat::WM_TIMER}) {
    v.push_back({id, 0, 0});
    v.push_back({id, any(), any()});
  }
  for (plat::UINT sc : {plat::SC_CLOSE, plat::SC_MINIMIZE, plat::SC_MAXIMIZE, plat::SC_RESTORE}) {
    v.push_back({plat::WM_SYSCOMMAND, static_cast<plat::WPARAM>(sc), 0});
  }
  return v;
}

// Posts p to h. A post the receiver has no room for yet is tried again until
// deadline; one to a window that is gone is dropped. Whether it was taken.
inline bool PostUntil(plat::HWND h, const StrayPost& p, std::chrono::steady_clock::time_point deadline) {
  while (!plat::PostMessage(h, p.Msg, p.WParam, p.LParam)) {
    if (!plat::IsWindow(h) || std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Posts StrayPosts to every window, window after window. Returns how many
// posts were taken.
inline int PostStrayMessages(const std::vector<plat::HWND>& windows, uint32_t seed,
                             std::chrono::steady_clock::time_point deadline) {
  int taken = 0;
  const std::vector<StrayPost> posts = StrayPosts(seed);
  for (plat::HWND h : windows) {
    for (const StrayPost& p : posts) taken += PostUntil(h, p, deadline);
  }
  return taken;
}

// What a program could post on a channel in other programs' names: to the
// channel's server window, a connect naming each of strangers, and a
// disconnect and a subscription 'S' and 'U' of table naming each of clients;
// to each client, a server-down naming the server window and a server-up
// naming each stranger. Each goes to HWND_BROADCAST first, then to its
// window. Returns how many posts were taken.
inline int PostInOthersNames(const std::string& instance, plat::HWND server,
                             const std::vector<plat::HWND>& clients,
                             const std::vector<plat::HWND>& strangers, int table,
                             std::chrono::steady_clock::time_point deadline) {
  const plat::UINT ctrl = plat::RegisterWindowMessage(VexaIPCCtrlName(instance));
  const plat::UINT subscription = plat::RegisterWindowMessage(VexaIPCCustomName(instance, "Subscription"));
  std::vector<std::pair<plat::HWND, StrayPost>> posts;
  for (plat::HWND s : strangers) posts.push_back({server, {ctrl, static_cast<plat::WPARAM>(s), ipcConnect}});
  for (plat::HWND c : clients) {
    const auto w = static_cast<plat::WPARAM>(c);
    posts.push_back({server, {ctrl, w, ipcDisconnect}});
    posts.push_back({server, {subscription, w, table | ('S' << 8)}});
    posts.push_back({server, {subscription, w, table | ('U' << 8)}});
    posts.push_back({c, {ctrl, static_cast<plat::WPARAM>(server), ipcServerDown}});
    for (plat::HWND s : strangers) posts.push_back({c, {ctrl, static_cast<plat::WPARAM>(s), ipcServerUp}});
  }
  int taken = 0;
  for (const auto& [to, p] : posts) taken += PostUntil(plat::HWND_BROADCAST, p, deadline) + PostUntil(to, p, deadline);
  return taken;
}

}  // namespace vexa::test
