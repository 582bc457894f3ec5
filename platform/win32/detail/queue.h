// The per-thread message queue behind user.h. Internal to the platform layer.
#pragma once
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/win32/host.h"
#include "platform/win32/user.h"

namespace win32::detail {

using Clock = std::chrono::steady_clock;

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapseMs;
  TIMERPROC proc;
  Clock::time_point due;
};

struct Queue {
  // Guards everything below except `timers`, which only the owning thread touches.
  std::mutex mutex;
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
  // How deeply the owning thread is inside its host's Wait (waits nest through callbacks);
  // while it is, the first post of each wait must wake it.
  int waiting = 0;
  bool woken = false;
  // False once the owning thread has ended.
  bool alive = true;
  Host* host = nullptr;
  // Windows owned by this thread; messages for any other window are stale.
  std::unordered_set<HWND> windows;

  std::vector<Timer> timers;
  UINT_PTR lastThreadTimerId = 0;
};

class ThreadState {
 public:
  ThreadState() : queue(std::make_shared<Queue>()) {}
  ~ThreadState();
  Host& EnsureHost();
  void ReplaceHost(std::unique_ptr<Host> next);

  std::shared_ptr<Queue> queue;

 private:
  std::unique_ptr<Host> host_;
};

ThreadState& ThisThread();

}  // namespace win32::detail
