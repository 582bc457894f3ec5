#include "tests/peers/ftp.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

namespace peers {

namespace {

constexpr int kPassivePorts = 8;

void MakeDir(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) != 0) throw PeerError("cannot create " + path);
  chmod(path.c_str(), mode);  // past the umask
}

}  // namespace

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw PeerError("cannot write " + path);
}

Vsftpd::Vsftpd() {
  std::string bin = FindBinary("vsftpd");
  // The server refuses a login root that its user may write to: the writable folder is
  // one below it.
  MakeDir(dir_.File("root"), 0755);
  root_ = dir_.File("root/pub");
  MakeDir(root_, 0777);
  MakeDir(dir_.File("empty"), 0755);
  for (int attempt = 0;; ++attempt) {
    port_ = FreePort();
    // More than one passive port: a session that ends while its data connection is still being
    // made may hold its listener a moment after the next session asks for one.
    int pasv = FreePorts(kPassivePorts);
    std::ostringstream conf;
    conf << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
         << "\nbackground=NO\nseccomp_sandbox=NO\nsecure_chroot_dir=" << dir_.File("empty")
         << "\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\nanon_root=" << dir_.File("root")
         << "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
            "anon_other_write_enable=YES\nanon_umask=022\nanon_world_readable_only=NO\n"
            "ftp_username=ftp\n"
            "pasv_enable=YES\npasv_address=127.0.0.1\npasv_min_port="
         << pasv << "\npasv_max_port=" << pasv + kPassivePorts - 1
         << "\nport_enable=YES\nconnect_from_port_20=NO\n"
            "dirmessage_enable=NO\nxferlog_enable=YES\nvsftpd_log_file="
         << dir_.File("vsftpd.log") << "\nlog_ftp_protocol=YES\nuse_localtime=NO\n"
            "max_per_ip=0\nmax_clients=0\nidle_session_timeout=60\ndata_connection_timeout=60\n";
    std::string file = dir_.Write("vsftpd.conf", conf.str());
    process_ = Process({bin, file}, dir_.File("vsftpd.out"));
    try {
      process_.WaitUntilListening(port_);
      return;
    } catch (const PeerError&) {
      if (attempt >= 2) throw;
    }
  }
}

Pyftpdlib::Pyftpdlib() {
  std::string python = FindBinary("/usr/bin/python3");
  root_ = dir_.File("root");
  MakeDir(root_, 0755);
  for (int attempt = 0;; ++attempt) {
    port_ = FreePort();
    int pasv = FreePorts(kPassivePorts);
    std::ostringstream script;
    script << "import logging\n"
              "from pyftpdlib.authorizers import DummyAuthorizer\n"
              "from pyftpdlib.handlers import FTPHandler\n"
              "from pyftpdlib.servers import FTPServer\n"
              "logging.basicConfig(level=logging.DEBUG)\n"
              "a = DummyAuthorizer()\n"
              "a.add_user('"
           << kUser << "', '" << kPassword << "', '" << root_
           << "', perm='elradfmwMT')\n"
              "class H(FTPHandler):\n"
              "    pass\n"
              "H.authorizer = a\n"
              "H.banner = 'tavlin test server'\n"
              "H.passive_ports = list(range("
           << pasv << ", " << pasv + kPassivePorts << "))\n"
              "s = FTPServer(('127.0.0.1', "
           << port_ << "), H)\n"
              "s.serve_forever()\n";
    std::string file = dir_.Write("server.py", script.str());
    process_ = Process({python, file}, dir_.File("pyftpdlib.log"));
    try {
      process_.WaitUntilListening(port_);
      return;
    } catch (const PeerError&) {
      if (attempt >= 2) throw;
    }
  }
}

}  // namespace peers
