// An nginx for HTTP client tests: static files, redirects, Basic authentication, cookies,
// an echo of the request's fields, uploads with PUT and a long response header line, all on
// a free port of 127.0.0.1 with a generated configuration in a temporary folder.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "tests/peers/process.h"

namespace peers {

class Nginx {
 public:
  // bigFileBytes > 0 also writes /big.bin of that many pattern bytes (for benchmarks).
  explicit Nginx(std::size_t bigFileBytes = 0);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by path.
  std::string Url(const std::string& path) const;
  // The folder served as "/": uploads land here too.
  const std::string& root() const { return root_; }
  std::string ErrorLog() const;

  // Credentials accepted under /private/.
  static constexpr const char* kUser = "tavlin";
  static constexpr const char* kPassword = "s3cret-pw";
  // The bytes of /pattern5000.bin (n = 5000) and of /big.bin: byte i is (i * 7 + i / 251) mod 256.
  static std::string Pattern(std::size_t n);
  // The body of /nul.bin: text with NUL bytes inside.
  static std::string NulBody();
  // The value of the X-Long header of /longheader (3000 bytes).
  static std::string LongValue();

  // Paths served: /small.txt ("hello tavlin\n"), /pattern5000.bin, /nul.bin, /big.bin,
  // /redirect302 and /redirect301 (to /small.txt), /redirect-host (301 to /small.txt on the
  // server and port the Host header names), /loop (302 to itself), /to-https (302 to
  // an https URL), /private/secret.txt (Basic), /cookie (two Set-Cookie lines), /echo (the
  // request's method, URI, Host, User-Agent, Cookie, Authorization, Content-Type and
  // Content-Length, one "name=value" line each), /upload/ (PUT), /longheader, /missing (404).

 private:
  TempDir dir_;
  std::string root_;
  int port_ = 0;
  Process proc_;
};

}  // namespace peers
