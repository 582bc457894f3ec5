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

}  // namespace peers
