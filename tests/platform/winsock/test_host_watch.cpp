// What the module asks of the thread's host: no readiness reports while no notification is due
// (a level-triggered host would spin), and no watch left behind after close. Also urgent data.
#include <map>
#include <memory>
#include <string>

#include "platform/win32/host.h"
#include "tests/platform/winsock/helpers.h"

namespace wstest {
namespace {

class CountingHost final : public win32::Host {
 public:
  explicit CountingHost(std::unique_ptr<win32::Host> inner) : inner_(std::move(inner)) {}
  void Wait(int timeoutMs) override { inner_->Wait(timeoutMs); }
  void Wake() override { inner_->Wake(); }
  int Watch(int fd, short events, win32::FdCallback cb) override {
    const int id = inner_->Watch(fd, events, [this, cb = std::move(cb)](short revents) {
      ++reports;
      cb(revents);
    });
    events_[id] = events;
    return id;
  }
  void SetEvents(int id, short events) override {
    inner_->SetEvents(id, events);
    events_[id] = events;
  }
  void Unwatch(int id) override {
    inner_->Unwatch(id);
    events_.erase(id);
  }
  // The events of the only watch, or -1 when there is not exactly one.
  int OnlyEvents() const { return events_.size() == 1 ? events_.begin()->second : -1; }
  std::size_t Watches() const { return events_.size(); }

  long reports = 0;

 private:
  std::unique_ptr<win32::Host> inner_;
  std::map<int, short> events_;
};

class WinsockHostWatch : public WinsockTest {
 protected:
  void SetUp() override {
    auto host = std::make_unique<CountingHost>(win32::MakePollHost());
    host_ = host.get();
    win32::InstallHost(std::move(host));
    WinsockTest::SetUp();
  }
  CountingHost* host_ = nullptr;
};

constexpr short kPollIn = 0x001;   // the poll() bits the host takes
constexpr short kPollPri = 0x002;

TEST_F(WinsockHostWatch, UnreadDataIsReportedOnceAndThenNotWatchedUntilRecv) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  ASSERT_EQ(1u, host_->Watches());
  ASSERT_EQ(3, ws::send(p, "abc", 3, 0));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_READ) == 1; }));
  EXPECT_EQ(0, host_->OnlyEvents() & kPollIn) << "still watching data nobody may be told about";
  const long before = host_->reports;
  Settle();
  EXPECT_EQ(before, host_->reports);

  char buf[2];
  ASSERT_EQ(2, ws::recv(c, buf, sizeof buf, 0));
  // One byte left: reported at once, without waiting for the host.
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_READ) == 2; }));
  EXPECT_EQ(before, host_->reports);
  ASSERT_EQ(1, ws::recv(c, buf, sizeof buf, 0));
  EXPECT_NE(0, host_->OnlyEvents() & kPollIn) << "drained: waiting for more";

  ws::closesocket(c);
  EXPECT_EQ(0u, host_->Watches());
  ws::closesocket(p);
}

TEST_F(WinsockHostWatch, ConnectedIdleSocketWatchesOnlyForInput) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  Settle();
  EXPECT_EQ(kPollIn, host_->OnlyEvents()) << "no FD_WRITE is due until a send would block";
  ws::closesocket(c);
  ws::closesocket(p);
}

TEST_F(WinsockHostWatch, ASocketMovesToAHostInstalledLater) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  auto next = std::make_unique<CountingHost>(win32::MakePollHost());
  CountingHost* second = next.get();
  win32::InstallHost(std::move(next));  // the first host and its watches are gone
  host_ = second;
  char buf[4];
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recv(c, buf, sizeof buf, 0));
  EXPECT_EQ(ws::WSAEWOULDBLOCK, ws::WSAGetLastError());
  EXPECT_EQ(kPollIn, second->OnlyEvents());
  ASSERT_EQ(1, ws::send(p, "x", 1, 0));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_READ) == 1; }));
  EXPECT_GT(second->reports, 0);
  ws::closesocket(c);
  EXPECT_EQ(0u, second->Watches());
  ws::closesocket(p);
}

TEST_F(WinsockHostWatch, UrgentDataInlineOrReportedAsOob) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  // Inline: the urgent byte arrives in the stream, after what was sent before it.
  const int on = 1;
  ASSERT_EQ(0, ws::setsockopt(c, ws::SOL_SOCKET, ws::SO_OOBINLINE, reinterpret_cast<const char*>(&on), sizeof on));
  ASSERT_EQ(2, ws::send(p, "ab", 2, 0));
  ASSERT_EQ(1, ws::send(p, "!", 1, ws::MSG_OOB));
  std::string got;
  ASSERT_TRUE(PumpUntil([&] {
    char buf[8];
    const int r = ws::recv(c, buf, sizeof buf, 0);
    if (r > 0) got.append(buf, static_cast<std::size_t>(r));
    return got.size() >= 3;
  }));
  EXPECT_EQ("ab!", got);
  ws::closesocket(c);
  ws::closesocket(p);

  // Out of line: FD_OOB, and recv with MSG_OOB takes the byte.
  Pair(&c, &p);
  ASSERT_EQ(0, ws::WSAAsyncSelect(c, hwnd_, kSocketMsg, ws::FD_READ | ws::FD_OOB | ws::FD_CLOSE));
  EXPECT_NE(0, host_->OnlyEvents() & kPollPri);
  ASSERT_EQ(1, ws::send(p, "?", 1, ws::MSG_OOB));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_OOB) == 1; }));
  char b = 0;
  ASSERT_EQ(1, ws::recv(c, &b, 1, ws::MSG_OOB));
  EXPECT_EQ('?', b);
  ws::closesocket(c);
  ws::closesocket(p);
}

}  // namespace
}  // namespace wstest
