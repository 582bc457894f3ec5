// FTP servers on free ports of 127.0.0.1, each serving a fresh temporary folder with
// uploads, renames, deletes and folders allowed, in passive and active mode.
#pragma once
#include <string>

#include "tests/peers/process.h"

namespace peers {

// vsftpd with anonymous access (any password); root() is the writable folder home() of the
// server's tree.
class Vsftpd {
 public:
  Vsftpd();
  int port() const { return port_; }
  std::string home() const { return "/pub"; }
  const std::string& root() const { return root_; }
  std::string log() const { return Tail(dir_.File("vsftpd.log")); }

 private:
  TempDir dir_{"tavlin-vsftpd"};
  std::string root_;
  int port_ = 0;
  Process process_;
};

// pyftpdlib with one user and password, rooted at root().
class Pyftpdlib {
 public:
  static constexpr const char* kUser = "tester";
  static constexpr const char* kPassword = "s3cret";
  Pyftpdlib();
  int port() const { return port_; }
  std::string home() const { return "/"; }
  const std::string& root() const { return root_; }
  std::string log() const { return Tail(dir_.File("pyftpdlib.log")); }

 private:
  TempDir dir_{"tavlin-pyftpdlib"};
  std::string root_;
  int port_ = 0;
  Process process_;
};

// Whole file contents; "" when it cannot be read.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace peers
