// The POSIX side of the peer: its listener, its connections, the script, and the host that
// plays the script inside the engine's waits.
#include "fuzz/harness/peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/host.h"
#include "platform/win32/misc.h"
#include "platform/win32/user.h"

namespace fuzzpeer {

struct Step {
  enum Kind { Data, Close, Reset } kind;
  unsigned connection;
  std::string bytes;
};

class Script {
 public:
  std::vector<Step> steps;
  std::size_t next = 0;
  std::size_t sent = 0;   // bytes of steps[next] already sent
  int idle = 0;           // pumps in a row that could not move the script
  bool stall = false;
  std::uint32_t tickOffset = 0;
  std::vector<int> fds;   // by connection index; -1 once closed
};

namespace {

// Pumps in a row that may pass before a step that cannot go out (its connection never comes,
// the engine stops reading) is dropped.
constexpr int kMaxIdle = 64;

Script* gScript = nullptr;
// TAVLIN_FUZZ_TRACE=1 prints the conversation on stderr, for looking into one input.
const bool gTrace = std::getenv("TAVLIN_FUZZ_TRACE") != nullptr;
int gListener = -1;
std::uint16_t gListenerPort = 0;
std::vector<std::uint16_t> gEngineListeners;

void Die(const char* what) {
  std::perror(what);
  std::abort();
}

void OpenListener() {
  if (gListener >= 0) return;
  gListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (gListener < 0) Die("peer: socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(gListener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(gListener, 64) != 0 ||
      ::getsockname(gListener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    Die("peer: listen on 127.0.0.1");
  gListenerPort = ntohs(a.sin_port);
}

void CloseFd(int& fd, bool reset) {
  if (fd < 0) return;
  if (reset) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  ::close(fd);
  fd = -1;
}

void AcceptPending(Script& s) {
  for (;;) {
    int fd = ::accept4(gListener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    s.fds.push_back(fd);
  }
}

// Connects to a socket the engine listens on, as the next connection.
bool ConnectToEngine(Script& s) {
  if (gEngineListeners.empty()) return false;
  const std::uint16_t port = gEngineListeners.front();
  gEngineListeners.erase(gEngineListeners.begin());
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  s.fds.push_back(fd);
  return true;
}

// What the engine sends is read and dropped, so its sends never block.
void Drain(Script& s) {
  char buf[65536];
  for (int& fd : s.fds) {
    while (fd >= 0) {
      ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        if (gTrace) std::fprintf(stderr, "engine> %.*s\n", static_cast<int>(n), buf);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n < 0 && errno == EINTR) continue;
      break;  // the engine closed or reset: the peer keeps its end until told otherwise
    }
  }
}

// Moves the script by one step; false when nothing could be done.
bool Advance(Script& s) {
  if (s.next >= s.steps.size()) return false;
  Step& step = s.steps[s.next];
  while (step.connection >= s.fds.size()) {
    if (!ConnectToEngine(s)) break;
  }
  bool moved = false;
  if (step.connection < s.fds.size()) {
    int& fd = s.fds[step.connection];
    if (step.kind != Step::Data) {
      if (gTrace) std::fprintf(stderr, "peer%u: %s\n", step.connection, step.kind == Step::Reset ? "reset" : "close");
      CloseFd(fd, step.kind == Step::Reset);
      moved = true;
    } else if (fd < 0) {
      moved = true;  // the data of a closed connection is lost
    } else {
      ssize_t n = ::send(fd, step.bytes.data() + s.sent, step.bytes.size() - s.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) s.sent += static_cast<std::size_t>(n);
      if (n > 0 && gTrace) std::fprintf(stderr, "peer%u> %.*s\n", step.connection, static_cast<int>(n), step.bytes.data() + s.sent - n);
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) s.sent = step.bytes.size();
      if (n != 0) s.idle = 0;
      moved = s.sent == step.bytes.size();
    }
  }
  if (!moved && ++s.idle < kMaxIdle) return true;
  ++s.next;
  s.sent = 0;
  s.idle = 0;
  return true;
}

// Once the stream is spent the peer closes, and then no wait has anything left to wait for:
// the clock stands, so a wait that does not end on the close ends only by hanging. A
// stalling peer keeps its connections, and time passes instead.
void Spent(Script& s) {
  if (!s.stall) {
    for (int& fd : s.fds) CloseFd(fd, false);
  } else {
    if (gTrace) std::fprintf(stderr, "peer: stream spent, clock +%us\n", kTimeoutSeconds + 1);
    s.tickOffset += (kTimeoutSeconds + 1) * 1000u;
    win32::test::SetTickOffset(s.tickOffset);
  }
  // Wakes the engine's wait, so that a pass of a fixed length ends at once and a stalled wait
  // looks at the clock now.
  PostMessageA(nullptr, WM_NULL, 0, 0);
}

class PeerHost final : public win32::Host {
 public:
  PeerHost() : inner_(win32::MakePollHost()) {}

  void Wait(int timeoutMs) override {
    if (!gScript) return inner_->Wait(timeoutMs);
    fired_ = false;
    inner_->Wait(0);
    if (fired_) return;
    Script& s = *gScript;
    AcceptPending(s);
    Drain(s);
    // Time passes only for a wait, not for a look at the queue.
    if (!Advance(s) && timeoutMs != 0) Spent(s);
    inner_->Wait(0);
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
  std::unique_ptr<win32::Host> inner_;
  bool fired_ = false;
};

void Parse(const std::uint8_t* p, std::size_t n, Script& s) {
  unsigned connection = 0;
  std::string piece;
  auto flush = [&] {
    if (!piece.empty()) s.steps.push_back({Step::Data, connection, std::move(piece)});
    piece.clear();
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != 0xFF || i + 1 == n) {
      piece += static_cast<char>(p[i]);
      continue;
    }
    const std::uint8_t c = p[++i];
    if (c == 0xFF) {
      piece += '\xFF';
    } else if (c == '|') {
      flush();
    } else if (c >= '0' && c <= '9') {
      flush();
      connection = c - '0';
    } else if (c == 'c' || c == 'r') {
      flush();
      s.steps.push_back({c == 'c' ? Step::Close : Step::Reset, connection, {}});
    }
  }
  flush();
}

}  // namespace

Session::Session(const std::uint8_t* data, std::size_t size) : script_(std::make_unique<Script>()) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    win32::InstallHost(std::make_unique<PeerHost>());
    InstallWinsockHook();
  }
  OpenListener();
  if (size > 0) {
    flags_ = data[0];
    Parse(data + 1, size - 1, *script_);
  }
  script_->stall = (flags_ & 0x80) != 0;
  gEngineListeners.clear();
  win32::test::SetTickOffset(0);
  gScript = script_.get();
}

Session::~Session() {
  gScript = nullptr;
  AcceptPending(*script_);
  for (int& fd : script_->fds) CloseFd(fd, true);
  gEngineListeners.clear();
  win32::test::SetTickOffset(0);
  // Messages left for the next input would make runs unrepeatable.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

std::uint16_t ListenerPort() { return gScript ? gListenerPort : 0; }

void NoteEngineListener(std::uint16_t port) {
  if (gScript) gEngineListeners.push_back(port);
}

}  // namespace fuzzpeer
