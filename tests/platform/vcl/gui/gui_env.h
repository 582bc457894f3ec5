// Shared by the gui tests: an offscreen QApplication and the Qt host, made once per process.
#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "platform/vcl/gui/vcl.h"
#include "platform/win32/host.h"
#include "platform/win32/user.h"

namespace guitest {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "gui_test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    Application->Initialize();
    // Installing a host wakes it once, so no post of the old host is missed: use that up.
    win32::CurrentHost().Wait(0);
  }
  void TearDown() override {
    Application->DestroyComponents();
    win32::InstallHost(win32::MakePollHost());
    delete app_;
  }

 private:
  QApplication* app_ = nullptr;
};

inline ::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using Clock = std::chrono::steady_clock;
inline long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Pumps the queue as the library's blocking calls do (peek, dispatch, wait through the host)
// until done() or the deadline; returns done().
inline bool PumpUntil(const std::function<bool()>& done, int deadlineMs = 5000) {
  const auto start = Clock::now();
  while (!done()) {
    if (MsSince(start) > deadlineMs) return false;
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }
  return true;
}

}  // namespace guitest
