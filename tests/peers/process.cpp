#include "tests/peers/process.h"

#include <arpa/inet.h>
#include <algorithm>
#include <mutex>
#include <vector>
#include <sys/file.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace peers {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Servers fork helpers of their own; once the server is gone they would be left to init. With
// the test process as their reaper, Stop() can collect every one of them.
void BecomeSubreaper() {
  static const bool done = [] {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    return true;
  }();
  (void)done;
}

// Kills what is left of a process group and collects it (with a deadline).
void KillAndReapGroup(pid_t group) {
  ::kill(-group, SIGKILL);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    pid_t r = ::waitpid(-group, nullptr, WNOHANG);
    if (r < 0) break;  // none left in the group
    if (r == 0) {
      if (std::chrono::steady_clock::now() >= until) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

bool IsExecutable(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

namespace {

// Ports handed out by FreePort come from below the kernel's ephemeral range, so no outgoing
// connection can take one between FreePort and the server's bind, and each is claimed with a
// lock file held until this process ends, so two test processes never get the same port while
// a server has yet to bind it (an FTP server's passive port is bound only at PASV).
bool BindsNow(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a = Loopback(port);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

int EphemeralLow() {
  std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
  int low = 32768;
  int high = 60999;
  if (!(in >> low >> high)) low = 32768;
  return low;
}

}  // namespace

int FreePorts(int count) {
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  const int lo = 20000;
  const int hi = std::min(32767, EphemeralLow() - 1);
  if (hi - lo < 1000) throw PeerError("the kernel's ephemeral port range leaves no room for test servers");
  // A fixed place, whatever TMPDIR a test sets, so every test process sees the same claims.
  const std::string dir = "/tmp/tavlin-test-ports";
  ::mkdir(dir.c_str(), 0777);
  ::chmod(dir.c_str(), 01777);
  static unsigned next = static_cast<unsigned>(::getpid()) * 7919u +
                         static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  const unsigned span = static_cast<unsigned>(hi - lo + 1 - (count - 1));
  for (unsigned tries = 0; tries < span; ++tries) {
    const int first = lo + static_cast<int>(next++ % span);
    std::vector<int> held;
    for (int port = first; port < first + count; ++port) {
      const std::string file = dir + "/" + std::to_string(port);
      int fd = ::open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
      if (fd < 0) break;
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !BindsNow(port)) {
        ::close(fd);
        break;
      }
      held.push_back(fd);
    }
    // The descriptors stay open: the claim lasts as long as this process.
    if (static_cast<int>(held.size()) == count) return first;
    for (int fd : held) ::close(fd);
  }
  throw PeerError("cannot find free ports for a test server");
}

int FreePort() { return FreePorts(1); }

bool PortAccepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_in a = Loopback(port);
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    ok = true;
  } else if (errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 200) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
  }
  ::close(fd);
  return ok;
}

bool WaitForPort(int port, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    if (PortAccepts(port)) return true;
    if (Clock::now() >= deadline) return false;
    // Nothing to wake on but the port itself: poll with a short, growing pause.
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
}

std::string FindBinary(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    if (IsExecutable(name)) return name;
    throw PeerError("server binary not found: " + name + " (run scripts/setup-deps)");
  }
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/local/sbin";
  std::stringstream ss(path);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (dir.empty()) continue;
    std::string full = dir + "/" + name;
    if (IsExecutable(full)) return full;
  }
  throw PeerError("server binary not found: " + name + " (run scripts/setup-deps)");
}

TempDir::TempDir(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw PeerError("mkdtemp " + templ + ": " + std::strerror(errno));
  path_ = buf.data();
  // Servers that drop privileges must still read their configuration.
  ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  std::string full = File(name);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw PeerError("cannot write " + full);
  ::chmod(full.c_str(), 0644);
  return full;
}

std::string OpenFilesUnder(const std::string& folder) {
  std::string open;
  std::error_code ec;
  const std::string prefix = std::filesystem::weakly_canonical(folder, ec).string() + "/";
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    if (!ec && target.rfind(prefix, 0) == 0) open += target + "\n";
  }
  return open;
}

std::string Tail(const std::string& file, std::size_t maxBytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "";
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (all.size() > maxBytes) all = all.substr(all.size() - maxBytes);
  return all;
}

Process::Process(const std::vector<std::string>& argv, const std::string& logFile) : log_(logFile) {
  if (argv.empty()) throw PeerError("Process: empty command");
  std::string exe = FindBinary(argv[0]);
  name_ = exe;
  std::vector<std::string> args = argv;
  args[0] = exe;
  std::vector<char*> cargv;
  for (auto& a : args) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  // Everything the child needs is prepared before fork: only async-signal-safe calls follow.
  int logFd = -1;
  if (!log_.empty()) {
    logFd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) throw PeerError("cannot open log " + log_ + ": " + std::strerror(errno));
  }
  int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  BecomeSubreaper();
  pid_t pid = ::fork();
  if (pid < 0) {
    int e = errno;
    if (logFd >= 0) ::close(logFd);
    if (nullFd >= 0) ::close(nullFd);
    throw PeerError(std::string("fork: ") + std::strerror(e));
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    // Test binaries may block signals; the server must see SIGTERM.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (nullFd >= 0) ::dup2(nullFd, 0);
    int out = logFd >= 0 ? logFd : nullFd;
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also from the parent, so Stop() finds the group whoever runs first
  if (logFd >= 0) ::close(logFd);
  if (nullFd >= 0) ::close(nullFd);
  pid_ = pid;
}

Process::~Process() { Stop(); }

Process::Process(Process&& other) noexcept
    : pid_(other.pid_), status_(other.status_), name_(std::move(other.name_)), log_(std::move(other.log_)) {
  other.pid_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Stop();
    pid_ = other.pid_;
    status_ = other.status_;
    name_ = std::move(other.name_);
    log_ = std::move(other.log_);
    other.pid_ = -1;
  }
  return *this;
}

bool Process::Running() {
  if (pid_ <= 0) return false;
  pid_t r = ::waitpid(pid_, &status_, WNOHANG);
  if (r == pid_) {
    // The leader is gone; children it forked may still hold the group.
    KillAndReapGroup(pid_);
    pid_ = -1;
    return false;
  }
  return true;
}

void Process::WaitUntilListening(int port, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    if (PortAccepts(port)) return;
    if (!Running()) {
      throw PeerError(name_ + " exited before listening on port " + std::to_string(port) +
                      (log_.empty() ? std::string() : ":\n" + Tail(log_)));
    }
    if (Clock::now() >= deadline) {
      std::string tail = log_.empty() ? std::string() : ":\n" + Tail(log_);
      Stop();
      throw PeerError(name_ + " did not listen on port " + std::to_string(port) + " in time" + tail);
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
}

void Process::Stop() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  auto deadline = Clock::now() + std::chrono::seconds(3);
  for (;;) {
    pid_t r = ::waitpid(pid_, &status_, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) break;
    if (Clock::now() >= deadline) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Whatever the server forked shares its group; collect it too.
  KillAndReapGroup(pid_);
  pid_ = -1;
}

}  // namespace peers
