// The wait pass: time-out, interruption, the quit and close messages, flushing, local host.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "corv/core/Wsock.h"
#include "platform/win32/misc.h"
#include "platform/winsock/winsock.h"

namespace {

// An engine whose window calls back into the test for every message.
struct Engine : CWsock {
  std::function<void(UINT, WPARAM, LPARAM)> onMessage;
  int handled = 0;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    ++handled;
    if (onMessage) onMessage(message, wParam, lParam);
    return CWsock::HandleMessage(message, wParam, lParam);
  }
};

constexpr UINT kPing = WM_USER + 7;

class WaitLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    winsock::EnsureRegistered();
    ASSERT_EQ(1, engine.Init(true));
    DrainQueue();
  }
  void TearDown() override {
    win32::test::SetTickOffset(0);
    DrainQueue();
  }
  static void DrainQueue() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  Engine engine;
};

TEST_F(WaitLoop, NoTimeoutKeepsWaiting) {
  engine.SetTimeout(0);
  engine.StartTimeout();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(1, engine.DoEvents(1, engine.Window));
  EXPECT_FALSE(engine.HasErrorText());
}

TEST_F(WaitLoop, TimeoutEndsTheWaitAfterFiveSecondsWhileMessagesKeepArriving) {
  ASSERT_NE(0u, SetTimer(engine.Window, 1, 20, nullptr));
  engine.SetTimeout(5);
  EXPECT_EQ(5u, engine.GetTimeout());
  auto start = std::chrono::steady_clock::now();
  engine.StartTimeout();
  int passes = 0;
  while (engine.DoEvents(10, engine.Window)) ++passes;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  KillTimer(engine.Window, 1);
  EXPECT_STREQ("Timeout.", engine.GetErrorText());
  EXPECT_GE(ms, 5000);
  EXPECT_LT(ms, 6500);
  EXPECT_GT(engine.handled, 100) << "timer messages kept arriving during the wait";
}

TEST_F(WaitLoop, DeadlineSurvivesTheTickCountWrapping) {
  win32::test::SetTickOffset(0);
  DWORD now = GetTickCount();
  // 200 ms before the wrap.
  win32::test::SetTickOffset(0xFFFFFF37u - now);
  engine.SetTimeout(1);
  engine.StartTimeout();
  EXPECT_EQ(1, engine.DoEvents(0, engine.Window)) << "a deadline past the wrap must not read as passed";
  win32::test::SetTickOffset(0xFFFFFF37u - now + 600);  // across the wrap, 600 ms in
  EXPECT_EQ(1, engine.DoEvents(0, engine.Window));
  win32::test::SetTickOffset(0xFFFFFF37u - now + 1100);
  EXPECT_EQ(0, engine.DoEvents(0, engine.Window));
  EXPECT_STREQ("Timeout.", engine.GetErrorText());
}

TEST_F(WaitLoop, HugeTimeoutDoesNotOverflowIntoAShortOne) {
  engine.SetTimeout(4294968u);  // × 1000 wraps 32 bits to 704 ms
  EXPECT_GT(engine.TimeoutMs, 4000000000u);
  win32::test::SetTickOffset(0);
  engine.StartTimeout();
  win32::test::SetTickOffset(5000);
  EXPECT_EQ(1, engine.DoEvents(0, engine.Window));
}

TEST_F(WaitLoop, InterruptFromADispatchedHandlerEndsTheSamePass) {
  // A request already standing ends the pass before it takes a message.
  engine.InterruptRequest = true;
  PostMessageA(engine.Window, kPing, 0, 0);
  EXPECT_EQ(0, engine.DoEvents(10, engine.Window));
  EXPECT_EQ(0, engine.handled);
  EXPECT_TRUE(engine.Interrupted);
  MSG left{};
  ASSERT_TRUE(PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(kPing, left.message);
  engine.Interrupted = false;

  engine.onMessage = [&](UINT m, WPARAM, LPARAM) {
    if (m == kPing) engine.InterruptRequest = true;
  };
  PostMessageA(engine.Window, kPing, 0, 0);
  EXPECT_EQ(0, engine.DoEvents(10, engine.Window));
  EXPECT_TRUE(engine.Interrupted);
  EXPECT_FALSE(engine.InterruptRequest);
  EXPECT_STREQ("Interrupted", engine.GetErrorText());
}

TEST_F(WaitLoop, QuitMessageEndsTheWaitAndStillReachesTheApplication) {
  PostQuitMessage(42);
  EXPECT_EQ(0, engine.DoEvents(10, engine.Window));
  EXPECT_FALSE(engine.HasErrorText());
  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(WM_QUIT, m.message);
  EXPECT_EQ(42u, m.wParam);
}

TEST_F(WaitLoop, CloseMessageAndLostWindowEndTheWait) {
  PostMessageA(engine.Window, WM_CLOSE, 0, 0);
  EXPECT_EQ(0, engine.DoEvents(10, engine.Window));

  Engine other;
  ASSERT_EQ(1, other.Init(false));
  HWND gone = other.Window;
  other.onMessage = [&](UINT m, WPARAM, LPARAM) {
    if (m == kPing) {
      DestroyWindow(other.Window);
      other.Window = nullptr;
    }
  };
  PostMessageA(gone, kPing, 0, 0);
  EXPECT_EQ(0, engine.DoEvents(10, gone));
}

TEST_F(WaitLoop, FlushReturnsAfterAHundredPassesEvenWhenMessagesKeepComing) {
  engine.onMessage = [&](UINT m, WPARAM, LPARAM) {
    if (m == kPing) PostMessageA(engine.Window, kPing, 0, 0);
  };
  PostMessageA(engine.Window, kPing, 0, 0);
  engine.FlushEvents();
  EXPECT_EQ(100, engine.handled);
}

TEST_F(WaitLoop, LocalHost) {
  EXPECT_EQ(0, engine.SetLocalHost("0.0.0.0"));
  EXPECT_EQ(0u, engine.LocalHostAddr);
  char name[256] = {};
  ASSERT_EQ(0, WinsockProcs.gethostname(name, sizeof name));
  EXPECT_STREQ(name, engine.GetLocalHost());

  EXPECT_EQ(0, engine.SetLocalHost("127.0.0.1"));
  EXPECT_EQ(0x0100007Fu, engine.LocalHostAddr);
  EXPECT_STREQ("127.0.0.1", engine.GetLocalHost());

  EXPECT_EQ(0, engine.SetLocalHost("localhost"));
  EXPECT_EQ(0x0100007Fu, engine.LocalHostAddr);

  EXPECT_NE(0, engine.SetLocalHost("no-such-host.invalid"));
  EXPECT_EQ(0u, engine.LocalHostAddr);

  EXPECT_EQ(0, engine.SetLocalHost(""));
  EXPECT_EQ(0u, engine.LocalHostAddr);
}

}  // namespace
