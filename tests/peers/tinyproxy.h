// tinyproxy on a free port of 127.0.0.1: an HTTP proxy with the CONNECT tunnel, optionally
// asking for Basic proxy credentials.
#pragma once
#include <memory>
#include <string>
#include "tests/peers/process.h"

namespace peers {

class Tinyproxy {
 public:
  struct Options {
    std::string user;      // empty: no proxy credentials asked for
    std::string password;
  };
  Tinyproxy() : Tinyproxy(Options{}) {}
  explicit Tinyproxy(const Options& options);
  int port() const { return port_; }
  std::string log() const { return Tail(dir_.File("tinyproxy.log")); }

 private:
  TempDir dir_{"tavlin-tinyproxy"};
  int port_ = 0;
  Process process_;
};

}  // namespace peers
