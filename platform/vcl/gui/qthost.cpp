#include "platform/vcl/gui/qthost.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <map>
#include <stdexcept>
#include <vector>

namespace vcl {
namespace {

using Clock = std::chrono::steady_clock;

class QtHost final : public win32::Host {
 public:
  QtHost() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!QCoreApplication::instance()) throw std::logic_error("the Qt host needs a QApplication");
    if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, [this] {
      std::uint64_t count;
      while (read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
      }
    });
  }

  ~QtHost() override {
    watches_.clear();
    graveyard_.clear();
    wakeNotifier_.reset();
    close(wakeFd_);
  }

  void Wait(int timeoutMs) override {
    if (callbackDepth_ == 0) graveyard_.clear();
    if (ConsumeWake()) return;
    if (timeoutMs == 0) {
      PollOnce();
      return;
    }
    const std::size_t depth = depth_++;
    if (timers_.size() <= depth) {
      auto t = std::make_unique<QTimer>();
      t->setTimerType(Qt::PreciseTimer);
      QObject::connect(t.get(), &QTimer::timeout, [this, depth] { timedOut_[depth] = true; });
      timers_.push_back(std::move(t));
      timedOut_.push_back(false);
    }
    timedOut_[depth] = false;
    // Repeating: if a nested wait runs while this one's time passes, the flag is still set
    // when control returns here, and another tick follows anyway.
    if (timeoutMs > 0) timers_[depth]->start(timeoutMs);
    // Any wake or fd callback since the start ends the wait, also one that a nested wait
    // (run by a GUI event in here) took: the caller looks at the queue again.
    const std::uint64_t activityStart = activity_;
    for (;;) {
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
      lastQtTurn_ = Clock::now();
      ConsumeWake();
      if (pending_ || activity_ != activityStart || timedOut_[depth]) break;
    }
    timers_[depth]->stop();
    --depth_;
    RethrowPending();
  }

  void Wake() override {
    wakes_.fetch_add(1, std::memory_order_acq_rel);
    const std::uint64_t one = 1;
    while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  int Watch(int fd, short events, win32::FdCallback callback) override {
    const int id = ++lastId_;
    auto w = std::make_shared<WatchEntry>();
    w->fd = fd;
    w->events = 0;
    w->callback = std::move(callback);
    auto make = [&](QSocketNotifier::Type type) {
      auto n = std::make_unique<QSocketNotifier>(fd, type);
      n->setEnabled(false);
      QObject::connect(n.get(), &QSocketNotifier::activated, [this, id] {
        // Never let an exception unwind through Qt: it goes on from the Wait that ran Qt.
        try {
          Ready(id);
        } catch (...) {
          if (!pending_) pending_ = std::current_exception();
        }
      });
      return n;
    };
    w->read = make(QSocketNotifier::Read);
    w->write = make(QSocketNotifier::Write);
    w->except = make(QSocketNotifier::Exception);
    watches_[id] = w;
    SetEvents(id, events);
    return id;
  }

  // Level-triggered: a notifier stays off whenever its readiness is not wanted, or Qt would
  // report the same readiness on every pass.
  void SetEvents(int watchId, short events) override {
    auto it = watches_.find(watchId);
    if (it == watches_.end()) return;
    WatchEntry& w = *it->second;
    w.events = events;
    w.read->setEnabled(events & POLLIN);
    w.write->setEnabled(events & POLLOUT);
    w.except->setEnabled(events & POLLPRI);
  }

  void Unwatch(int watchId) override {
    auto it = watches_.find(watchId);
    if (it == watches_.end()) return;
    SetEvents(watchId, 0);
    // The notifier may be the one whose signal is running: delete it once no callback is.
    graveyard_.push_back(it->second);
    watches_.erase(it);
  }

 private:
  struct WatchEntry {
    int fd = -1;
    short events = 0;
    win32::FdCallback callback;
    std::unique_ptr<QSocketNotifier> read, write, except;
  };

  void RethrowPending() {
    if (!pending_) return;
    std::exception_ptr e = pending_;
    pending_ = nullptr;
    std::rethrow_exception(e);
  }

  bool ConsumeWake() {
    const std::uint64_t w = wakes_.load(std::memory_order_acquire);
    if (w == seenWakes_) return false;
    seenWakes_ = w;
    ++activity_;
    return true;
  }

  // Qt tells which notifier fired; poll() tells what the fd really reports (hang-up and
  // errors included), and filters out readiness already consumed.
  void Ready(int id) {
    auto it = watches_.find(id);
    if (it == watches_.end() || it->second->events == 0) return;
    std::shared_ptr<WatchEntry> w = it->second;
    pollfd p{w->fd, w->events, 0};
    int n;
    do {
      n = poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0 || p.revents == 0) return;
    Fire(*w, p.revents);
  }

  void Fire(WatchEntry& w, short revents) {
    if (revents & POLLNVAL) SetEvents(IdOf(&w), 0);  // a closed fd would report on every pass
    win32::FdCallback cb = w.callback;
    ++activity_;
    ++callbackDepth_;
    try {
      cb(revents);
    } catch (...) {
      --callbackDepth_;
      throw;
    }
    --callbackDepth_;
  }

  int IdOf(const WatchEntry* w) const {
    for (const auto& [id, e] : watches_)
      if (e.get() == w) return id;
    return 0;
  }

  // Wait(0): the watched fds directly, and Qt at most once a millisecond, so a busy queue
  // neither starves the GUI nor pays for a Qt pass per message.
  void PollOnce() {
    const auto now = Clock::now();
    if (now - lastQtTurn_ >= std::chrono::milliseconds(1)) {
      lastQtTurn_ = now;
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      RethrowPending();
      return;
    }
    std::vector<pollfd> fds;
    std::vector<int> ids;
    for (const auto& [id, w] : watches_) {
      if (w->events == 0) continue;
      fds.push_back({w->fd, w->events, 0});
      ids.push_back(id);
    }
    if (fds.empty()) return;
    int n;
    do {
      n = poll(fds.data(), fds.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto it = watches_.find(ids[i]);  // an earlier callback may have removed it
      if (it == watches_.end() || it->second->events == 0) continue;
      std::shared_ptr<WatchEntry> w = it->second;
      Fire(*w, fds[i].revents);
    }
  }

  int wakeFd_;
  std::unique_ptr<QSocketNotifier> wakeNotifier_;
  std::atomic<std::uint64_t> wakes_{0};
  std::uint64_t seenWakes_ = 0;
  std::uint64_t activity_ = 0;  // wakes taken and fd callbacks run
  int callbackDepth_ = 0;
  std::exception_ptr pending_;
  std::size_t depth_ = 0;
  std::vector<std::unique_ptr<QTimer>> timers_;
  std::vector<bool> timedOut_;
  int lastId_ = 0;
  std::map<int, std::shared_ptr<WatchEntry>> watches_;
  std::vector<std::shared_ptr<WatchEntry>> graveyard_;
  Clock::time_point lastQtTurn_{};
};

}  // namespace

std::unique_ptr<win32::Host> MakeQtHost() { return std::make_unique<QtHost>(); }

}  // namespace vcl
