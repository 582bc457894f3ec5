#include "tests/peers/dante.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace peers {
namespace {

int Run(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

void Dante::EnsureSocksUser() {
  // Test processes run side by side: the one creating the account holds this lock until its
  // password is set, so no other takes the half-made account for a ready one.
  const int lock = ::open("/tmp/tavlin-socks-user.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  struct Unlock {
    int fd;
    ~Unlock() {
      if (fd >= 0) ::close(fd);
    }
  } unlock{lock};
  if (::getpwnam(SocksUser)) return;
  if (::geteuid() != 0) {
    throw PeerError(std::string("danted's user/password method needs the system account ") + SocksUser +
                    "; run the tests as root once so it can be created");
  }
  std::string useradd = FindBinary("useradd");
  std::string chpasswd = FindBinary("chpasswd");
  if (Run(useradd + " --system --no-create-home --shell /usr/sbin/nologin " + SocksUser + " >/dev/null 2>&1") != 0 &&
      !::getpwnam(SocksUser)) {
    throw PeerError(std::string("cannot create the account ") + SocksUser);
  }
  if (Run("echo '" + std::string(SocksUser) + ":" + SocksPassword + "' | " + chpasswd) != 0) {
    throw PeerError(std::string("cannot set the password of ") + SocksUser);
  }
}

Dante::Dante(bool requireAuth, bool blockClients) {
  std::string bin = FindBinary("danted");
  if (requireAuth) EnsureSocksUser();
  for (int attempt = 0;; ++attempt) {
    port_ = FreePort();
    std::string method = requireAuth ? "username" : "none";
    std::string conf =
        "logoutput: stderr\n"
        "internal: 127.0.0.1 port = " +
        std::to_string(port_) +
        "\n"
        "external: 127.0.0.1\n"
        "clientmethod: none\n"
        "socksmethod: " +
        method +
        "\n"
        "user.privileged: root\n"
        "user.unprivileged: nobody\n"
        "client " +
        std::string(blockClients ? "block" : "pass") +
        " { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
        // SOCKS4 carries no password: it passes only when no authentication is asked for.
        "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n}\n";
    std::string file = dir_.Write("danted.conf", conf);
    process_ = Process({bin, "-f", file, "-N", "1", "-p", dir_.File("danted.pid")}, dir_.File("danted.log"));
    try {
      process_.WaitUntilListening(port_);
      return;
    } catch (const PeerError&) {
      if (attempt >= 2) throw;
    }
  }
}

}  // namespace peers
