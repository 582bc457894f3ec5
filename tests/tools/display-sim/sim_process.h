// Runs tools/display-sim as the far end of a pseudo-terminal and reads what it prints.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace simtest {

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() { Stop(); }

  static std::string Binary() { return std::string(TAVLIN_BINARY_DIR) + "/tools/display-sim/display-sim"; }

  // Starts the simulator with its own pseudo-terminal linked at `link`; returns once the link
  // exists (or false when the simulator did not say so within the deadline).
  bool StartPty(const std::string& link, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {Binary()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("--pty");
    args.push_back(link);
    if (!Spawn(args)) return false;
    return ReadLine().rfind("display-sim: listening on", 0) == 0;
  }

  bool Spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int r = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    out_ = fds[0];
    if (r != 0) pid_ = -1;
    return r == 0;
  }

  // The next line the simulator prints, without its line end; "" when none comes in time.
  std::string ReadLine(int deadlineMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    for (;;) {
      const auto nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0 || out_ < 0) return {};
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) return {};
      char chunk[512];
      const ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Exit status after a normal end (SIGTERM is a normal end), -1 otherwise.
  int Stop() {
    int status = -1;
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int st = 0;
      if (waitpid(pid_, &st, 0) == pid_ && WIFEXITED(st)) status = WEXITSTATUS(st);
      pid_ = -1;
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
    return status;
  }

  // Waits for the simulator to end by itself.
  int Wait() {
    int status = -1;
    if (pid_ > 0) {
      int st = 0;
      if (waitpid(pid_, &st, 0) == pid_ && WIFEXITED(st)) status = WEXITSTATUS(st);
      pid_ = -1;
    }
    return status;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

}  // namespace simtest
