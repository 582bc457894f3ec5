#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QTimer>
#include <stdexcept>
#include <thread>

#include "gui_env.h"
#include "platform/win32/host.h"

using guitest::Clock;
using guitest::MsSince;

namespace {

struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd), 0); }
  ~SocketPair() {
    close(fd[0]);
    close(fd[1]);
  }
};

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

}  // namespace

TEST(QtHost, WakesAtOnceWhenAWatchedSocketBecomesReadable) {
  win32::Host& host = win32::CurrentHost();
  SocketPair sp;
  int calls = 0;
  short seen = 0;
  int id = host.Watch(sp.fd[0], POLLIN, [&](short revents) {
    ++calls;
    seen = revents;
    char buf[16];
    while (read(sp.fd[0], buf, sizeof buf) > 0) {
    }
  });
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(write(sp.fd[1], "x", 1), 1);
  });
  const auto start = Clock::now();
  // A wait may end early (a wake left from before); callers loop, and so does the test.
  while (calls == 0 && MsSince(start) < 5000) host.Wait(10000);
  const auto elapsed = MsSince(start);
  writer.join();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(seen & POLLIN);
  EXPECT_LT(elapsed, 2000);  // woken by the fd, not by the time-out
  host.Unwatch(id);
}

TEST(QtHost, DisabledWatchStaysQuietAndIdleWaitDoesNotSpin) {
  win32::Host& host = win32::CurrentHost();
  SocketPair sp;
  ASSERT_EQ(write(sp.fd[1], "pending", 7), 7);  // readable all the time: level-triggered
  int calls = 0;
  int id = host.Watch(sp.fd[0], POLLIN, [&](short) { ++calls; });
  host.Wait(1000);
  EXPECT_EQ(calls, 1);
  host.SetEvents(id, 0);  // no notification due until re-enabled
  const double cpu0 = ThreadCpuMs();
  const auto start = Clock::now();
  host.Wait(200);
  EXPECT_GE(MsSince(start), 190);
  EXPECT_EQ(calls, 1);
  EXPECT_LT(ThreadCpuMs() - cpu0, 60.0);  // slept in the dispatcher, did not spin
  host.SetEvents(id, POLLIN);
  host.Wait(1000);
  EXPECT_EQ(calls, 2);
  host.Unwatch(id);
}

TEST(QtHost, WritableAndHangUpReachTheCallback) {
  win32::Host& host = win32::CurrentHost();
  SocketPair sp;
  short seen = 0;
  int id = host.Watch(sp.fd[0], POLLOUT, [&](short revents) { seen = revents; });
  host.Wait(1000);
  EXPECT_TRUE(seen & POLLOUT);
  host.SetEvents(id, POLLIN);
  seen = 0;
  shutdown(sp.fd[1], SHUT_RDWR);
  host.Wait(1000);
  EXPECT_TRUE(seen & (POLLHUP | POLLIN));
  host.Unwatch(id);
}

TEST(QtHost, WakeFromAnotherThreadEndsTheWait) {
  win32::Host& host = win32::CurrentHost();
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    host.Wake();
  });
  const auto start = Clock::now();
  host.Wait(10000);
  waker.join();
  EXPECT_LT(MsSince(start), 2000);
  // A wake before the wait is not lost either.
  host.Wake();
  const auto start2 = Clock::now();
  host.Wait(10000);
  EXPECT_LT(MsSince(start2), 2000);
}

TEST(QtHost, TimeOutOfAnOuterWaitSurvivesANestedWait) {
  win32::Host& host = win32::CurrentHost();
  bool innerDone = false;
  long long innerEnd = 0;
  const auto start = Clock::now();
  // Inside the outer wait, a GUI event runs a nested wait that outlasts the outer time-out.
  QTimer::singleShot(10, [&] {
    host.Wait(300);
    innerDone = true;
    innerEnd = MsSince(start);
  });
  // Should the outer time-out be lost, this ends the test instead of hanging it.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] { host.Wake(); });
  guard.start(5000);
  host.Wait(100);
  const auto outer = MsSince(start);
  EXPECT_TRUE(innerDone);
  EXPECT_GE(innerEnd, 290);
  EXPECT_LT(outer - innerEnd, 1000);  // returned once the nested wait gave control back
  EXPECT_LT(outer, 4000);
}

TEST(QtHost, WakeTakenByANestedWaitAlsoEndsTheOuterOne) {
  win32::Host& host = win32::CurrentHost();
  bool innerDone = false;
  QTimer::singleShot(10, [&] {
    std::thread waker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      host.Wake();
    });
    host.Wait(5000);  // takes the wake
    waker.join();
    innerDone = true;
  });
  const auto start = Clock::now();
  host.Wait(5000);
  EXPECT_TRUE(innerDone);
  EXPECT_LT(MsSince(start), 2000);
}

TEST(QtHost, ZeroWaitPollsFdsWithoutBlocking) {
  win32::Host& host = win32::CurrentHost();
  SocketPair sp;
  int calls = 0;
  int id = host.Watch(sp.fd[0], POLLIN, [&](short) {
    ++calls;
    char buf[8];
    while (read(sp.fd[0], buf, sizeof buf) > 0) {
    }
  });
  ASSERT_EQ(write(sp.fd[1], "x", 1), 1);
  const auto start = Clock::now();
  for (int i = 0; i < 100 && calls == 0; ++i) host.Wait(0);
  EXPECT_EQ(calls, 1);
  EXPECT_LT(MsSince(start), 1000);
  host.Unwatch(id);
}

TEST(QtHost, UnwatchInsideItsOwnCallbackAndExceptionsLeaveThroughWait) {
  win32::Host& host = win32::CurrentHost();
  SocketPair sp;
  int id = 0;
  int calls = 0;
  id = host.Watch(sp.fd[0], POLLIN, [&](short) {
    ++calls;
    host.Unwatch(id);
  });
  ASSERT_EQ(write(sp.fd[1], "x", 1), 1);
  host.Wait(1000);
  host.Wait(50);
  EXPECT_EQ(calls, 1);

  SocketPair sp2;
  int id2 = host.Watch(sp2.fd[0], POLLIN, [](short) { throw std::runtime_error("from a callback"); });
  ASSERT_EQ(write(sp2.fd[1], "x", 1), 1);
  EXPECT_THROW(host.Wait(1000), std::runtime_error);
  host.Unwatch(id2);
}
