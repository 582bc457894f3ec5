#include "tests/peers/tinyproxy.h"

namespace peers {

Tinyproxy::Tinyproxy(const Options& options) {
  std::string bin = FindBinary("tinyproxy");
  // A port can be taken between FreePort and the server's bind: try a few.
  for (int attempt = 0;; ++attempt) {
    port_ = FreePort();
    std::string conf = "Port " + std::to_string(port_) +
                       "\n"
                       "Listen 127.0.0.1\n"
                       "Timeout 30\n"
                       "MaxClients 64\n"
                       "LogLevel Info\n"
                       "DisableViaHeader Yes\n";
    // No ConnectPort line: CONNECT is allowed to every port.
    if (!options.user.empty()) conf += "BasicAuth " + options.user + " " + options.password + "\n";
    std::string file = dir_.Write("tinyproxy.conf", conf);
    process_ = Process({bin, "-d", "-c", file}, dir_.File("tinyproxy.log"));
    try {
      process_.WaitUntilListening(port_);
      return;
    } catch (const PeerError&) {
      if (attempt >= 2) throw;
    }
  }
}

}  // namespace peers
