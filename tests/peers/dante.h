// danted (Dante's SOCKS server) on a free port of 127.0.0.1, speaking SOCKS4 and SOCKS5.
//
// With authentication, SOCKS5 clients must log on with RFC 1929 user and password. danted
// checks those against the system's user database, so the helper makes sure a dedicated
// account (SocksUser / SocksPassword, no shell, no home) exists; creating it needs root.
#pragma once
#include <string>
#include "tests/peers/process.h"

namespace peers {

class Dante {
 public:
  static constexpr const char* SocksUser = "tavlinsocks";
  static constexpr const char* SocksPassword = "Socks-pw-7731";

  // With blockClients every client is turned away: danted closes its connection unanswered.
  explicit Dante(bool requireAuth = false, bool blockClients = false);
  int port() const { return port_; }
  std::string log() const { return Tail(dir_.File("danted.log")); }

  // Creates the account when it is missing; throws PeerError when that is not possible.
  static void EnsureSocksUser();

 private:
  TempDir dir_{"tavlin-dante"};
  int port_ = 0;
  Process process_;
};

}  // namespace peers
