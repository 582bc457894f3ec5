// A real mail server (aiosmtpd, Debian's python3-aiosmtpd) on a free port of 127.0.0.1. It
// stores every message it accepts; the tests read them back, whole or parsed. It refuses
// every recipient at the domain refused.test.
#pragma once
#include <string>
#include <vector>

#include "tests/peers/process.h"

namespace peers {

class SmtpServer {
 public:
  struct Options {
    std::string user;      // AUTH LOGIN accepts this user and password
    std::string password;
    bool requireAuth = false;
  };
  SmtpServer() : SmtpServer(Options{}) {}
  explicit SmtpServer(const Options& options);

  int port() const { return port_; }
  const std::string& folder() const { return dir_.path(); }
  // Messages stored so far. A message is stored before the server accepts its data, so a
  // send that returned has its message here.
  // Message i (from 1): the data as received, and the envelope (sender, then recipients).
  std::string Message(int i) const;
  std::vector<std::string> Envelope(int i) const;
  int Count() const;
  std::string log() const { return Tail(dir_.File("smtp.log")); }

 private:
  TempDir dir_{"tavlin-smtp"};
  int port_ = 0;
  Process process_;
};

// Runs Debian's Python on a script from tests/ with the arguments; returns its stdout and
// throws PeerError when it exits with a failure.
std::string RunPython(const std::string& script, const std::vector<std::string>& args);

}  // namespace peers
