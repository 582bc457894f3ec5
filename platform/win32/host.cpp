#include "platform/win32/host.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <vector>

#include "platform/win32/detail/queue.h"

namespace win32 {
namespace {

class PollHost final : public Host {
 public:
  PollHost() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
  }
  ~PollHost() override { close(wakeFd_); }

  void Wait(int timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::vector<pollfd> fds;
    std::vector<int> ids;
    const std::uint64_t pass = ++passes_;
    for (;;) {
      fds.clear();
      ids.clear();
      fds.push_back({wakeFd_, POLLIN, 0});
      for (const auto& [id, w] : watches_) {
        if (w->events == 0) continue;
        fds.push_back({w->fd, w->events, 0});
        ids.push_back(id);
      }
      int ms = -1;
      if (timeoutMs >= 0) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        ms = left < 0 ? 0 : static_cast<int>(left);
      }
      const int n = poll(fds.data(), fds.size(), ms);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (n == 0) return;
      if (fds[0].revents != 0) {
        std::uint64_t count;
        while (read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
        }
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        // A callback may remove or replace any watch, this one included.
        auto it = watches_.find(ids[i - 1]);
        if (it == watches_.end() || it->second->events == 0) continue;
        std::shared_ptr<Entry> entry = it->second;
        short revents = fds[i].revents;
        if (passes_ != pass) {
          // A callback waited in turn and may have consumed this readiness: look again.
          pollfd again{entry->fd, entry->events, 0};
          revents = ::poll(&again, 1, 0) == 1 ? again.revents : 0;
        }
        // Report only what is still asked for; errors always.
        revents &= static_cast<short>(entry->events | POLLERR | POLLHUP | POLLNVAL);
        if (revents == 0) continue;
        // A closed fd would report POLLNVAL on every pass: report it once.
        if (revents & POLLNVAL) entry->events = 0;
        FdCallback callback = entry->callback;
        callback(revents);
      }
      return;
    }
  }

  void Wake() override {
    const std::uint64_t one = 1;
    while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  int Watch(int fd, short events, FdCallback callback) override {
    const int id = ++lastId_;
    watches_[id] = std::make_shared<Entry>(Entry{fd, events, std::move(callback)});
    return id;
  }

  void SetEvents(int watchId, short events) override {
    auto it = watches_.find(watchId);
    if (it != watches_.end()) it->second->events = events;
  }

  void Unwatch(int watchId) override { watches_.erase(watchId); }

 private:
  struct Entry {
    int fd;
    short events;
    FdCallback callback;
  };
  int wakeFd_;
  int lastId_ = 0;
  // Counts Wait calls, so a Wait can tell that a callback waited in between.
  std::uint64_t passes_ = 0;
  std::map<int, std::shared_ptr<Entry>> watches_;
};

}  // namespace

std::unique_ptr<Host> MakePollHost() { return std::make_unique<PollHost>(); }

namespace {
struct PumpState {
  std::vector<bool> frames;  // per frame: opened by the framework's own loop
  bool own = false;          // frames opened now are the framework's
};
PumpState& Pump() {
  thread_local PumpState state;
  return state;
}
}  // namespace

PumpFrame::PumpFrame() {
  PumpState& p = Pump();
  p.frames.push_back(p.own);
  p.own = false;
}

// Frames nest: the innermost one is this one, and it holds what was in force before it.
PumpFrame::~PumpFrame() {
  PumpState& p = Pump();
  p.own = p.frames.back();
  p.frames.pop_back();
}

OwnLoop::OwnLoop(bool inherit) : outerOwn_(Pump().own) {
  PumpState& p = Pump();
  p.own = !inherit || p.frames.empty() || p.frames.back();
}
OwnLoop::~OwnLoop() { Pump().own = outerOwn_; }

bool InsideForeignPump() {
  const PumpState& p = Pump();
  return !p.frames.empty() && !p.frames.back();
}

Host& CurrentHost() { return detail::ThisThread().EnsureHost(); }

void InstallHost(std::unique_ptr<Host> host) { detail::ThisThread().ReplaceHost(std::move(host)); }

}  // namespace win32
