#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/win32/host.h"
#include "platform/win32/module.h"
#include "platform/win32/user.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<MSG> dispatched;

LRESULT CALLBACK Record(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_CREATE && msg != WM_DESTROY) dispatched.push_back(MSG{nullptr, msg, wParam, lParam, 0, {0, 0}});
  return 0;
}

std::vector<UINT_PTR> timerCalls;
void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) { timerCalls.push_back(id); }

class Queue : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatched.clear();
    timerCalls.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = Record;
    wc.cbWndExtra = 8;
    wc.lpszClassName = "Test_Queue";
    RegisterClassA(&wc);
    hwnd = CreateWindowExA(0, "Test_Queue", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
  }
  void TearDown() override {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    // Leave nothing for the next test.
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    UnregisterClassA("Test_Queue", nullptr);
  }
  static std::vector<UINT> Drain(HWND filter = nullptr) {
    std::vector<UINT> out;
    MSG m;
    while (PeekMessageA(&m, filter, 0, 0, PM_REMOVE)) out.push_back(m.message);
    return out;
  }
  HWND hwnd = nullptr;
};

TEST_F(Queue, QuitComesAfterMessagesAlreadyPosted) {
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  PostMessageA(nullptr, WM_USER + 2, 0, 0);
  PostQuitMessage(7);
  PostMessageA(hwnd, WM_USER + 3, 0, 0);
  MSG m;
  std::vector<UINT> order;
  while (GetMessageA(&m, nullptr, 0, 0)) order.push_back(m.message);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
  // Taken once, the quit is gone.
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, QuitSurvivesPeekWithoutRemoval) {
  PostQuitMessage(3);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  // A filter does not hide it.
  ASSERT_TRUE(PeekMessageA(&m, hwnd, WM_USER, WM_USER, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, FiltersSelectByWindowAndRange) {
  PostMessageA(hwnd, WM_USER + 1, 11, 0);
  PostMessageA(nullptr, WM_USER + 2, 22, 0);
  PostMessageA(hwnd, WM_USER + 3, 33, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 22u);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 3, WM_USER + 5, PM_REMOVE));
  EXPECT_EQ(m.wParam, 33u);
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_USER + 3, WM_USER + 5, PM_REMOVE));
  EXPECT_EQ(Drain(hwnd), (std::vector<UINT>{WM_USER + 1}));
  EXPECT_EQ(Drain(), (std::vector<UINT>{WM_USER + 2}));
}

TEST_F(Queue, FilteredGetMessageSleepsThroughOtherInput) {
  PostMessageA(nullptr, WM_USER + 1, 0, 0);
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
  std::atomic<bool> posted{false};
  std::thread later([&] {
    // The stimulus comes late on purpose: long enough for a spinning wait to show.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostMessageA(hwnd, WM_USER + 2, 0, 0);
    posted = true;
  });
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, hwnd, 0, 0));
  getrusage(RUSAGE_THREAD, &after);
  later.join();
  EXPECT_EQ(m.message, WM_USER + 2);
  EXPECT_TRUE(posted);
  auto us = [](const rusage& r) {
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
  };
  EXPECT_LT(us(after) - us(before), 50000);
  KillTimer(nullptr, timer);
}

TEST_F(Queue, DispatchReachesTheWindowProcedure) {
  PostMessageA(hwnd, WM_USER + 9, 5, -6);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_FALSE(TranslateMessage(&m));
  DispatchMessageA(&m);
  ASSERT_EQ(dispatched.size(), 1u);
  EXPECT_EQ(dispatched[0].message, WM_USER + 9);
  EXPECT_EQ(dispatched[0].wParam, 5u);
  EXPECT_EQ(dispatched[0].lParam, -6);
}

TEST_F(Queue, MessagesOfADestroyedWindowAreDropped) {
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  PostMessageA(nullptr, WM_USER + 2, 0, 0);
  DestroyWindow(hwnd);
  EXPECT_EQ(Drain(), (std::vector<UINT>{WM_USER + 2}));
}

TEST_F(Queue, PostingToAnInvalidWindowFails) {
  HWND old = hwnd;
  DestroyWindow(hwnd);
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(old, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(0x5), WM_USER, 0, 0));
  EXPECT_TRUE(PostMessageA(nullptr, WM_USER, 0, 0));
  EXPECT_EQ(Drain(), (std::vector<UINT>{WM_USER}));
  // A filter naming a dead window is an error for GetMessageA.
  MSG m;
  EXPECT_EQ(GetMessageA(&m, old, 0, 0), -1);
}

TEST_F(Queue, TimerFiresOnlyWhenNothingElseIsPendingAndCoalesces) {
  ASSERT_EQ(SetTimer(hwnd, 42, 10, nullptr), 42u);
  // Let several periods pass without taking anything.
  const auto until = Clock::now() + std::chrono::milliseconds(60);
  while (Clock::now() < until) MsgWaitForMultipleObjects(0, nullptr, FALSE, 60, QS_POSTMESSAGE);
  PostMessageA(hwnd, WM_USER, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_EQ(m.wParam, 42u);
  // One tick however many periods passed; the next is a full period away.
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_TRUE(KillTimer(hwnd, 42));
  EXPECT_FALSE(KillTimer(hwnd, 42));
}

TEST_F(Queue, PeekWithoutRemovalLeavesTheTimerDue) {
  SetTimer(hwnd, 1, 10, nullptr);
  ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(Queue, TimerProcedureRunsOnDispatchAndForgedTicksDoNot) {
  const UINT_PTR id = SetTimer(nullptr, 0, 10, OnTimer);
  ASSERT_NE(id, 0u);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  ASSERT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.hwnd, nullptr);
  DispatchMessageA(&m);
  EXPECT_EQ(timerCalls, (std::vector<UINT_PTR>{id}));
  KillTimer(nullptr, id);
  // After the timer is gone, a stale or forged tick calls nothing.
  DispatchMessageA(&m);
  MSG forged{hwnd, WM_TIMER, 99, reinterpret_cast<LPARAM>(&OnTimer), 0, {0, 0}};
  DispatchMessageA(&forged);
  EXPECT_EQ(timerCalls.size(), 1u);
}

TEST_F(Queue, TimersOfADestroyedWindowDie) {
  SetTimer(hwnd, 5, 10, nullptr);
  DestroyWindow(hwnd);
  EXPECT_FALSE(KillTimer(hwnd, 5));
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(SetTimer(hwnd, 6, 10, nullptr), 0u);
}

TEST_F(Queue, WaitReturnsAtOnceWhenInputIsPendingAndTimesOutOtherwise) {
  PostMessageA(hwnd, WM_USER, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
  Drain();
  const auto start = Clock::now();
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 30, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Queue, WaitEndsWhenTheNextTimerIsDue) {
  SetTimer(hwnd, 1, 20, nullptr);
  const auto start = Clock::now();
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10000, 0xFF), WAIT_OBJECT_0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  KillTimer(hwnd, 1);
}

// Tells when its thread has gone to sleep in Wait, so a test can post exactly then.
struct SignallingHost : win32::Host {
  explicit SignallingHost(std::atomic<int>* entered) : entered(entered), inner(win32::MakePollHost()) {}
  void Wait(int ms) override {
    ++*entered;
    inner->Wait(ms);
  }
  void Wake() override { inner->Wake(); }
  int Watch(int fd, short ev, win32::FdCallback cb) override { return inner->Watch(fd, ev, std::move(cb)); }
  void SetEvents(int id, short ev) override { inner->SetEvents(id, ev); }
  void Unwatch(int id) override { inner->Unwatch(id); }
  std::atomic<int>* entered;
  std::unique_ptr<win32::Host> inner;
};

TEST_F(Queue, PostFromAnotherThreadWakesTheWaitAtOnce) {
  std::atomic<int> entered{0};
  std::atomic<HWND> target{nullptr};
  DWORD result = 0;
  Clock::time_point woke;
  std::thread waiter([&] {
    win32::InstallHost(std::make_unique<SignallingHost>(&entered));
    HWND own = CreateWindowExA(0, "Test_Queue", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    target = own;
    result = MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_ALLINPUT);
    woke = Clock::now();
    DestroyWindow(own);
  });
  const auto giveUp = Clock::now() + std::chrono::seconds(10);
  while ((entered == 0 || !target) && Clock::now() < giveUp) std::this_thread::yield();
  ASSERT_GT(entered.load(), 0);
  const auto posted = Clock::now();
  EXPECT_TRUE(PostMessageA(target, WM_USER + 4, 0, 0));
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  EXPECT_LT(woke - posted, std::chrono::seconds(2));
}

TEST_F(Queue, ManyThreadsPostWithoutLoss) {
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(PostMessageA(hwnd, WM_USER, t, i));
    });
  std::vector<int> next(kThreads, 0);
  int received = 0;
  MSG m;
  while (received < kThreads * kEach) {
    ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_ALLINPUT), WAIT_OBJECT_0);
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      // Each thread's messages arrive in the order it posted them.
      EXPECT_EQ(m.lParam, next[m.wParam]++);
      ++received;
    }
  }
  for (auto& p : posters) p.join();
}

TEST(Host, WatchedFdEndsTheWaitAtOnce) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  win32::Host& host = win32::CurrentHost();
  int calls = 0;
  const int id = host.Watch(fds[0], POLLIN, [&](short revents) {
    ++calls;
    EXPECT_TRUE(revents & POLLIN);
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    PostMessageA(nullptr, WM_USER + 7, static_cast<unsigned char>(c), 0);
  });
  std::thread writer([&] { ASSERT_EQ(write(fds[1], "x", 1), 1); });
  const auto start = Clock::now();
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  writer.join();
  EXPECT_EQ(calls, 1);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 7);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('x'));

  // Events 0 keeps the watch silent; an unwatched fd reports nothing at all.
  ASSERT_EQ(write(fds[1], "y", 1), 1);
  host.SetEvents(id, 0);
  host.Wait(20);
  EXPECT_EQ(calls, 1);
  host.SetEvents(id, POLLIN);
  host.Wait(20000);
  EXPECT_EQ(calls, 2);
  host.Unwatch(id);
  ASSERT_EQ(write(fds[1], "z", 1), 1);
  host.Wait(20);
  EXPECT_EQ(calls, 2);
  close(fds[0]);
  close(fds[1]);
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

TEST(Host, CallbackMayUnwatchItselfAndOthers) {
  int a[2], b[2];
  ASSERT_EQ(pipe(a), 0);
  ASSERT_EQ(pipe(b), 0);
  win32::Host& host = win32::CurrentHost();
  int ida = 0, idb = 0, calls = 0;
  auto cb = [&](short) {
    ++calls;
    host.Unwatch(ida);
    host.Unwatch(idb);
  };
  ida = host.Watch(a[0], POLLIN, cb);
  idb = host.Watch(b[0], POLLIN, cb);
  ASSERT_EQ(write(a[1], "1", 1), 1);
  ASSERT_EQ(write(b[1], "1", 1), 1);
  host.Wait(20000);
  EXPECT_EQ(calls, 1);
  for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
}

TEST(Host, ReadinessTakenByANestedWaitIsNotReportedAgain) {
  int a[2], b[2];
  ASSERT_EQ(pipe(a), 0);
  ASSERT_EQ(pipe(b), 0);
  win32::Host& host = win32::CurrentHost();
  int callsB = 0, emptyReads = 0;
  auto drain = [&](int fd) {
    char c;
    if (read(fd, &c, 1) != 1) ++emptyReads;
  };
  const int ida = host.Watch(a[0], POLLIN, [&](short) {
    drain(a[0]);
    host.Wait(0);  // as a window procedure pumping messages would
  });
  const int idb = host.Watch(b[0], POLLIN, [&](short) {
    ++callsB;
    drain(b[0]);
  });
  ASSERT_EQ(write(a[1], "1", 1), 1);
  ASSERT_EQ(write(b[1], "1", 1), 1);
  host.Wait(20000);
  host.Wait(0);
  EXPECT_EQ(callsB, 1);
  EXPECT_EQ(emptyReads, 0);

  // Interest withdrawn by an earlier callback of the same pass is honoured.
  host.Unwatch(ida);
  host.Unwatch(idb);
  int callsC = 0, callsD = 0, idd = 0;
  const int idc = host.Watch(a[0], POLLIN, [&](short) {
    ++callsC;
    host.SetEvents(idd, 0);
  });
  idd = host.Watch(b[0], POLLIN, [&](short) { ++callsD; });
  ASSERT_EQ(write(a[1], "2", 1), 1);
  ASSERT_EQ(write(b[1], "2", 1), 1);
  host.Wait(20000);
  EXPECT_EQ(callsC, 1);
  EXPECT_EQ(callsD, 0);
  host.Unwatch(idc);
  host.Unwatch(idd);
  for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
}

TEST(Host, WakeIsRememberedUntilTheNextWait) {
  win32::Host& host = win32::CurrentHost();
  host.Wake();
  const auto start = Clock::now();
  host.Wait(20000);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST(Host, IdleWaitUsesNoCpu) {
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  const auto start = Clock::now();
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 300, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  getrusage(RUSAGE_THREAD, &after);
  auto us = [](const rusage& r) {
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
  };
  EXPECT_LT(us(after) - us(before), 30000);  // 10% of the wait, far above an idle poll
}

TEST(Host, InstalledHostIsTheOneWaitedOn) {
  std::atomic<int> waits{0};
  std::thread([&] {
    win32::InstallHost(std::make_unique<SignallingHost>(&waits));
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
  }).join();
  EXPECT_GE(waits.load(), 1);
}

}  // namespace

namespace {
int reposts = 0;
LRESULT CALLBACK Repost(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_USER + 1) {
    ++reposts;
    PostMessageA(hwnd, WM_USER + 1, 0, 0);
  }
  return 0;
}
}  // namespace

TEST(Host, AQueueThatNeverEmptiesStillGivesTheHostATurn) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = Repost;
  wc.lpszClassName = "Test_Repost";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND busy = CreateWindowExA(0, "Test_Repost", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(busy, nullptr);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  bool seen = false;
  const int id = win32::CurrentHost().Watch(fds[0], POLLIN, [&](short) { seen = true; });
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  reposts = 0;
  PostMessageA(busy, WM_USER + 1, 0, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  MSG m;
  while (!seen && Clock::now() < deadline && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  EXPECT_TRUE(seen) << "the fd callback never ran while the queue was busy";
  EXPECT_GT(reposts, 0);
  win32::CurrentHost().Unwatch(id);
  DestroyWindow(busy);
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
  UnregisterClassA("Test_Repost", nullptr);
  close(fds[0]);
  close(fds[1]);
}
