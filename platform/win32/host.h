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

}  // namespace win32
