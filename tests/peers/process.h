// Running real servers for tests: free loopback ports, temporary folders with generated
// configurations, and server processes that are always stopped again.
//
// Every failure (binary missing, server not answering) throws PeerError with a message that
// says what is missing; a test that lets it escape fails, so a missing peer never reads as a
// skip.
#pragma once
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

namespace peers {

class PeerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A TCP port of 127.0.0.1 that is free and claimed for this process alone (below the ephemeral
// range, with a lock file), for a server still to bind it.
int FreePort();

// The first of count consecutive ports, each claimed as FreePort claims one.
int FreePorts(int count);

// Whether 127.0.0.1:port accepts a connection now.
bool PortAccepts(int port);

// Polls until 127.0.0.1:port accepts a connection; false after timeoutMs.
bool WaitForPort(int port, int timeoutMs);

// The full path of an executable: an absolute name is checked as it is, a bare name is
// looked up in PATH and in the usual sbin folders. Throws PeerError when it is not there.
std::string FindBinary(const std::string& name);

// A fresh folder under $TMPDIR (or /tmp), removed with its contents on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "tavlin-peer");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes text to path()/name and returns the full name.
  std::string Write(const std::string& name, const std::string& text) const;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A child process in its own process group, stopped (SIGTERM, then SIGKILL after a grace
// time) and reaped on Stop() or destruction. stdout and stderr go to logFile when given.
class Process {
 public:
  Process() = default;
  Process(const std::vector<std::string>& argv, const std::string& logFile = "");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;

  pid_t pid() const { return pid_; }
  bool Running();
  // Waits for the port to accept, failing early when the process exits. Throws PeerError
  // with the log's tail when the server does not come up in time.
  void WaitUntilListening(int port, int timeoutMs = 10000);
  void Stop();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  std::string name_;
  std::string log_;
};

// The files under folder that this process holds open (a removed one with " (deleted)"),
// one per line: empty when none is left open.
std::string OpenFilesUnder(const std::string& folder);

// The last lines of a text file, for error messages.
std::string Tail(const std::string& file, std::size_t maxBytes = 2000);

}  // namespace peers
