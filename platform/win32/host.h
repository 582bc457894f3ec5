// What the message queue waits on. The default host is poll() plus an eventfd; the framework
// layer installs a Qt host so GUI events are processed inside the same waits. Callbacks of fd
// watches run inside Wait() on the waiting thread; they typically post messages.
#pragma once
#include <functional>
#include <memory>

namespace win32 {

using FdCallback = std::function<void(short revents)>;

class Host {
 public:
  virtual ~Host() = default;
  // Returns when Wake() was called since the last Wait, a watched fd became ready (its
  // callback has run), or timeoutMs passed. timeoutMs < 0 waits without limit; 0 only polls.
  virtual void Wait(int timeoutMs) = 0;
  // Any thread may call it.
  virtual void Wake() = 0;
  // events are poll() bits (POLLIN, POLLOUT); 0 keeps the watch but reports nothing.
  virtual int Watch(int fd, short events, FdCallback callback) = 0;
  virtual void SetEvents(int watchId, short events) = 0;
  virtual void Unwatch(int watchId) = 0;
};

// The calling thread's host; the poll host is made on first use when none is installed.
Host& CurrentHost();
// Replaces the calling thread's host (fd watches are not carried over).
void InstallHost(std::unique_ptr<Host> host);
std::unique_ptr<Host> MakePollHost();

// Who pumps the calling thread's queue. Every wait for input and every dispatch in progress is
// a frame; a framework marks the frames of its own loops. A box that runs a loop of its own can
// then tell whether it would run above somebody else's wait (a library's blocking call), which
// could not see its own deadline or end until the box closed.
class PumpFrame {
 public:
  PumpFrame();
  ~PumpFrame();
  PumpFrame(const PumpFrame&) = delete;
  PumpFrame& operator=(const PumpFrame&) = delete;
};
// The frames opened directly within its extent (not further in) are the framework's; with
// inherit, only when the innermost frame already in progress is (or there is none): a loop that
// only empties the queue is as much the framework's as the code that runs it.
class OwnLoop {
 public:
  explicit OwnLoop(bool inherit = false);
  ~OwnLoop();
  OwnLoop(const OwnLoop&) = delete;
  OwnLoop& operator=(const OwnLoop&) = delete;

 private:
  bool outerOwn_;
};
// The innermost frame in progress was opened by someone else's loop.
bool InsideForeignPump();

}  // namespace win32
