#include "tests/peers/http_capture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tests/peers/process.h"

namespace peers {

namespace {

std::size_t ContentLength(const std::string& head) {
  std::size_t pos = 0;
  while ((pos = head.find('\n', pos)) != std::string::npos) {
    ++pos;
    static const char kName[] = "content-length:";
    bool match = head.size() - pos > sizeof kName - 1;
    for (std::size_t i = 0; match && i < sizeof kName - 1; ++i) {
      match = std::tolower(static_cast<unsigned char>(head[pos + i])) == kName[i];
    }
    if (match) return std::strtoul(head.c_str() + pos + sizeof kName - 1, nullptr, 10);
  }
  return 0;
}

}  // namespace

HttpCapture::HttpCapture(Mode mode, std::string reply) : mode_(mode), reply_(std::move(reply)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw PeerError("capture: socket failed");
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
      ::pipe2(wakeFd_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    throw PeerError(std::string("capture: cannot listen: ") + std::strerror(errno));
  }
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

HttpCapture::~HttpCapture() {
  char c = 'q';
  (void)!::write(wakeFd_[1], &c, 1);
  thread_.join();
  ::close(listenFd_);
  ::close(wakeFd_[0]);
  ::close(wakeFd_[1]);
}

std::string HttpCapture::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpCapture::SetReply(Mode mode, std::string reply) {
  std::lock_guard<std::mutex> lock(mu_);
  mode_ = mode;
  reply_ = std::move(reply);
}

std::string HttpCapture::NextRequest(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !requests_.empty(); })) {
    return "";
  }
  std::string r = std::move(requests_.front());
  requests_.pop_front();
  return r;
}

int HttpCapture::Connections() {
  std::lock_guard<std::mutex> lock(mu_);
  return connections_;
}

void HttpCapture::Run() {
  for (;;) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ++connections_;
    }
    Serve(fd);
    ::close(fd);
  }
}

// Reads one request (stopping at the peer's close or at shutdown), records it, then acts.
void HttpCapture::Serve(int fd) {
  std::string got;
  std::size_t want = std::string::npos;
  bool stop = false;
  while (!stop) {
    if (want != std::string::npos && got.size() >= want) break;
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
    if (p[1].revents) return;
    if (!p[0].revents) continue;
    char buf[65536];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      stop = true;
      break;
    }
    got.append(buf, static_cast<std::size_t>(n));
    std::size_t end = got.find("\r\n\r\n");
    if (want == std::string::npos && end != std::string::npos) {
      want = end + 4 + ContentLength(got.substr(0, end + 2));
    }
  }
  Mode mode;
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(got);
    mode = mode_;
    reply = reply_;
  }
  cv_.notify_all();
  switch (mode) {
    case Mode::Reply:
      (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::shutdown(fd, SHUT_WR);
      // Let the client read everything before the socket goes away.
      for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(p, 2, 5000) <= 0 || p[1].revents) return;
        char buf[4096];
        if (::recv(fd, buf, sizeof buf, 0) <= 0) return;
      }
    case Mode::CloseSilently:
      return;
    case Mode::NeverAnswer:
      for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
        if (p[1].revents) return;
        char buf[4096];
        if (p[0].revents && ::recv(fd, buf, sizeof buf, 0) <= 0) return;
      }
    case Mode::ResetMidBody: {
      (void)!::send(fd, reply.data(), reply.size() / 2, MSG_NOSIGNAL);
      linger l{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      return;
    }
  }
}

}  // namespace peers
