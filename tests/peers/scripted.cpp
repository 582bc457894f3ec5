#include "tests/peers/scripted.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/win32/host.h"
#include "platform/win32/misc.h"
#include "platform/win32/user.h"
#include "tests/peers/process.h"

namespace peers {
namespace {

// host is a dotted address of the loopback range.
int ListenLoopback(int* port, const char* host = "127.0.0.1") {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw PeerError(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::inet_pton(AF_INET, host, &a.sin_addr);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    int e = errno;
    ::close(fd);
    throw PeerError(std::string("cannot listen on ") + host + ": " + std::strerror(e));
  }
  *port = ntohs(a.sin_port);
  return fd;
}

bool SendAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

std::string Printable(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

ScriptedServer::ScriptedServer(const char* host) {
  listen_ = ListenLoopback(&port_, host);
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw PeerError("pipe2 failed");
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  if (wake_[1] >= 0) {
    char c = 1;
    (void)!::write(wake_[1], &c, 1);
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) ::close(listen_);
  if (wake_[0] >= 0) ::close(wake_[0]);
  if (wake_[1] >= 0) ::close(wake_[1]);
}

ScriptedServer& ScriptedServer::Accept() { steps_.push_back({Step::AcceptK, {}, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Expect(const std::string& b) { steps_.push_back({Step::ExpectK, b, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::ExpectLine() { steps_.push_back({Step::ExpectLineK, {}, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Send(const std::string& b) { steps_.push_back({Step::SendK, b, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Gate(int id) { steps_.push_back({Step::GateK, {}, id, {}}); return *this; }
ScriptedServer& ScriptedServer::ReadUntilClosed() { steps_.push_back({Step::ReadAllK, {}, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Echo() { steps_.push_back({Step::EchoK, {}, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Close() { steps_.push_back({Step::CloseK, {}, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Reset() { steps_.push_back({Step::ResetK, {}, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Stall() { steps_.push_back({Step::StallK, {}, 0, {}}); return *this; }
ScriptedServer& ScriptedServer::Run(std::function<void(int)> fn) {
  steps_.push_back({Step::RunK, {}, 0, std::move(fn)});
  return *this;
}

void ScriptedServer::Start() { thread_ = std::thread([this] { Main(); }); }

void ScriptedServer::Open(int id) {
  std::lock_guard<std::mutex> lock(mu_);
  open_.push_back(id);
  cv_.notify_all();
}

bool ScriptedServer::WaitDone(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

bool ScriptedServer::WaitStep(std::size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done_ || stepIndex_ >= n; });
}

std::string ScriptedServer::failures() const {
  std::lock_guard<std::mutex> lock(mu_);
  return failures_;
}

std::string ScriptedServer::received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return received_;
}

void ScriptedServer::Fail(const std::string& what) {
  std::lock_guard<std::mutex> lock(mu_);
  failures_ += "step " + std::to_string(stepIndex_) + ": " + what + "\n";
}

bool ScriptedServer::WaitReadable(int fd) {
  pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  int r;
  do {
    r = ::poll(p, 2, stepTimeoutMs);
  } while (r < 0 && errno == EINTR);
  if (stop_ || p[1].revents) return false;
  return r > 0;
}

bool ScriptedServer::ReadSome(int fd, std::string& out, std::size_t max) {
  if (!WaitReadable(fd)) return false;
  char buf[65536];
  ssize_t k = ::recv(fd, buf, std::min(max, sizeof buf), 0);
  if (k <= 0) return false;
  out.append(buf, static_cast<std::size_t>(k));
  std::lock_guard<std::mutex> lock(mu_);
  received_.append(buf, static_cast<std::size_t>(k));
  return true;
}

void ScriptedServer::Main() {
  int conn = -1;
  auto closeConn = [&] {
    if (conn >= 0) ::close(conn);
    conn = -1;
  };
  bool ok = true;
  for (std::size_t i = 0; ok && i < steps_.size() && !stop_; ++i) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stepIndex_ = i;
      cv_.notify_all();
    }
    Step& s = steps_[i];
    switch (s.kind) {
      case Step::AcceptK: {
        closeConn();
        if (!WaitReadable(listen_)) {
          if (!stop_) Fail("no connection came");
          ok = false;
          break;
        }
        conn = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) {
          Fail("accept failed");
          ok = false;
          break;
        }
        int one = 1;
        ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++accepted_;
        break;
      }
      case Step::ExpectK: {
        std::string got;
        while (got.size() < s.bytes.size() && ReadSome(conn, got, s.bytes.size() - got.size())) {
        }
        if (got != s.bytes) {
          if (!stop_) Fail("expected \"" + Printable(s.bytes) + "\", got \"" + Printable(got) + "\"");
          ok = false;
        }
        break;
      }
      case Step::ExpectLineK: {
        std::string got;
        while ((got.empty() || got.back() != '\n') && ReadSome(conn, got, 1)) {
        }
        if (got.empty() || got.back() != '\n') {
          if (!stop_) Fail("expected a line, got \"" + Printable(got) + "\"");
          ok = false;
        }
        break;
      }
      case Step::SendK:
        if (!SendAll(conn, s.bytes.data(), s.bytes.size())) {
          Fail("send failed");
          ok = false;
        }
        break;
      case Step::GateK: {
        std::unique_lock<std::mutex> lock(mu_);
        bool opened = cv_.wait_for(lock, std::chrono::milliseconds(stepTimeoutMs), [&] {
          for (int id : open_) {
            if (id == s.id) return true;
          }
          return stop_.load();
        });
        if (!opened || stop_) {
          if (!stop_) failures_ += "gate " + std::to_string(s.id) + " never opened\n";
          ok = false;
        }
        break;
      }
      case Step::ReadAllK: {
        std::string got;
        while (ReadSome(conn, got, 65536)) {
        }
        break;
      }
      case Step::EchoK: {
        for (;;) {
          std::string got;
          if (!ReadSome(conn, got, 65536)) break;
          if (!SendAll(conn, got.data(), got.size())) break;
        }
        break;
      }
      case Step::CloseK:
        closeConn();
        break;
      case Step::ResetK: {
        linger l{1, 0};
        ::setsockopt(conn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        closeConn();
        break;
      }
      case Step::StallK: {
        pollfd p{wake_[0], POLLIN, 0};
        while (!stop_) {
          if (::poll(&p, 1, -1) > 0) break;
        }
        break;
      }
      case Step::RunK:
        s.fn(conn);
        break;
    }
  }
  closeConn();
  std::lock_guard<std::mutex> lock(mu_);
  if (ok) stepIndex_ = steps_.size();
  done_ = true;
  cv_.notify_all();
}

EchoServer::EchoServer(const std::string& greeting) : greeting_(greeting) {
  listen_ = ListenLoopback(&port_);
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw PeerError("pipe2 failed");
  thread_ = std::thread([this] { Main(); });
}

EchoServer::~EchoServer() {
  char c = 1;
  (void)!::write(wake_[1], &c, 1);
  thread_.join();
  ::close(listen_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void EchoServer::Main() {
  std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
  char buf[65536];
  for (;;) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) {
        if (!greeting_.empty()) SendAll(c, greeting_.data(), greeting_.size());
        fds.push_back({c, POLLIN, 0});
      }
    }
    for (std::size_t i = 2; i < fds.size();) {
      if (fds[i].revents) {
        ssize_t k = ::recv(fds[i].fd, buf, sizeof buf, 0);
        if (k <= 0 || !SendAll(fds[i].fd, buf, static_cast<std::size_t>(k))) {
          ::close(fds[i].fd);
          fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
          continue;
        }
      }
      ++i;
    }
  }
  for (std::size_t i = 2; i < fds.size(); ++i) ::close(fds[i].fd);
}

struct InlinePeer::State {
  std::vector<std::string> pieces;
  End end = End::Close;
  std::size_t next = 0;
  std::size_t sent = 0;  // bytes of pieces[next] already sent
  int listen = -1;
  int conn = -1;
  bool ended = false;
};

namespace {

// Moves the script by one step; false when nothing could be done.
bool Advance(InlinePeer::State& s) {
  if (s.conn < 0) {
    s.conn = ::accept4(s.listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (s.conn < 0) return false;
  }
  char sink[4096];
  while (::recv(s.conn, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  if (s.next < s.pieces.size()) {
    const std::string& piece = s.pieces[s.next];
    ssize_t k = ::send(s.conn, piece.data() + s.sent, piece.size() - s.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (k <= 0) return false;
    s.sent += static_cast<std::size_t>(k);
    if (s.sent == piece.size()) {
      ++s.next;
      s.sent = 0;
    }
    return true;
  }
  if (s.ended) return false;
  s.ended = true;
  if (s.end == InlinePeer::End::Stall) {
    // Far past any time-out; a posted message makes the wait look at the clock.
    win32::test::SetTickOffset(3600u * 1000u);
    PostMessageA(nullptr, WM_NULL, 0, 0);
  } else {
    if (s.end == InlinePeer::End::Reset) {
      linger l{1, 0};
      ::setsockopt(s.conn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(s.conn);
    s.conn = -1;
    s.listen = s.listen >= 0 ? (::close(s.listen), -1) : -1;
  }
  return true;
}

class InlineHost final : public win32::Host {
 public:
  explicit InlineHost(InlinePeer::State& s) : s_(s), inner_(win32::MakePollHost()) {}
  void Wait(int timeoutMs) override {
    fired_ = false;
    inner_->Wait(0);
    if (fired_ || timeoutMs == 0) return;
    // Only a wait that would sleep moves the script; with nothing left to do it sleeps.
    if (Advance(s_)) {
      inner_->Wait(0);
    } else {
      inner_->Wait(timeoutMs);
    }
  }
  void Wake() override { inner_->Wake(); }
  int Watch(int fd, short events, win32::FdCallback callback) override {
    return inner_->Watch(fd, events, [this, callback = std::move(callback)](short revents) {
      fired_ = true;
      callback(revents);
    });
  }
  void SetEvents(int watchId, short events) override { inner_->SetEvents(watchId, events); }
  void Unwatch(int watchId) override { inner_->Unwatch(watchId); }

 private:
  InlinePeer::State& s_;
  std::unique_ptr<win32::Host> inner_;
  bool fired_ = false;
};

}  // namespace

InlinePeer::InlinePeer(std::vector<std::string> pieces, End end) : state_(std::make_unique<State>()) {
  state_->pieces = std::move(pieces);
  state_->end = end;
  state_->listen = ListenLoopback(&port_);
  ::fcntl(state_->listen, F_SETFL, ::fcntl(state_->listen, F_GETFL) | O_NONBLOCK);
  win32::test::SetTickOffset(0);
  win32::InstallHost(std::make_unique<InlineHost>(*state_));
}

InlinePeer::~InlinePeer() {
  win32::InstallHost(win32::MakePollHost());
  win32::test::SetTickOffset(0);
  if (state_->conn >= 0) ::close(state_->conn);
  if (state_->listen >= 0) ::close(state_->listen);
}

bool InlinePeer::Spent() const { return state_->next == state_->pieces.size(); }

}  // namespace peers
