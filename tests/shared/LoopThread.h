// A thread with its own message loop, so that a channel server keeps answering
// while the test blocks on a child process's output. Work runs on that thread
// through Invoke; events are noted in a log the test can wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/Classes.h"
#include "platform/msg/Msg.h"

namespace vexa::test {

class LoopThread {
public:
  LoopThread() {
    std::unique_lock<std::mutex> lock(FMutex);
    FThread = std::thread([this] { Run(); });
    FCond.wait(lock, [this] { return FWnd != 0; });
  }
  ~LoopThread() {
    plat::PostMessage(FWnd, plat::WM_USER + 2, 0, 0);
    FThread.join();
  }

  // Runs Job on the loop thread and waits for it.
  void Invoke(const std::function<void()>& Job) {
    std::lock_guard<std::mutex> one(FInvokeMutex);
    FJob = &Job;
    plat::SendMessage(FWnd, plat::WM_USER + 1, 0, 0);
    FJob = nullptr;
  }

  // Thread-safe event log.
  void Note(const std::string& line) {
    std::lock_guard<std::mutex> lock(FMutex);
    FLog.push_back(line);
    FCond.notify_all();
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FLog;
  }
  // Waits until the log holds Count entries that start with Prefix.
  bool WaitForNotes(const std::string& Prefix, size_t Count, std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FCond.wait_for(lock, Timeout, [&] {
      size_t n = 0;
      for (const auto& l : FLog) n += l.rfind(Prefix, 0) == 0;
      return n >= Count;
    });
  }

private:
  void Run() {
    plat::HWND wnd = fw::AllocateHWnd(fw::TWndMethod([this](fw::TMessage& m) {
      if (m.Msg == plat::WM_USER + 1) {
        if (FJob) (*FJob)();
      } else if (m.Msg == plat::WM_USER + 2) {
        plat::PostQuitMessage(0);
      } else {
        m.Result = plat::DefWindowProc(FWnd, m.Msg, m.WParam, m.LParam);
      }
    }));
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FWnd = wnd;
      FCond.notify_all();
    }
    plat::MSG msg;
    while (plat::GetMessage(&msg, 0, 0, 0)) {
      plat::TranslateMessage(&msg);
      plat::DispatchMessage(&msg);
    }
    fw::DeallocateHWnd(wnd);
  }

  std::thread FThread;
  std::mutex FMutex;
  std::mutex FInvokeMutex;
  std::condition_variable FCond;
  plat::HWND FWnd = 0;
  const std::function<void()>* FJob = nullptr;
  std::vector<std::string> FLog;
};

}  // namespace vexa::test
