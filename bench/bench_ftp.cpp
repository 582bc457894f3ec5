// Download and upload of 100 MiB through the FTP engine (passive mode) against pyftpdlib and
// vsftpd, beside curl -o and curl -T moving the same file in the same run. All are timed as
// whole processes (this program runs its own engine mode for that), logon included; best
// and median of 5.
//   bench_ftp                                                 the comparison
//   bench_ftp --engine get|put PORT USER PASSWORD DIR REMOTE LOCAL   one transfer
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/timing.h"
#include "corv/ftp/FTP.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/ftp.h"

namespace {

constexpr std::size_t kSize = 100u * 1024u * 1024u;
constexpr int kRounds = 5;

int EngineTransfer(char** a) {
  const bool put = std::strcmp(a[0], "put") == 0;
  winsock::EnsureRegistered();
  CFTP ftp;
  if (!ftp.Init()) return 1;
  ftp.SetTimeout(60);
  ftp.SetRemoteHost("127.0.0.1");
  ftp.RemotePort = static_cast<WORD>(std::atoi(a[1]));
  ftp.User.SetText(a[2]);
  ftp.Password.SetText(a[3]);
  ftp.Passive = 1;
  ftp.SetTransferMode(tmBinary);
  int r = ftp.DoAction(ftpLogon);
  if (r == 0) r = ftp.SetRemotePath(a[4]);
  if (r == 0) {
    ftp.SetRemoteFile(a[5]);
    ftp.SetLocalFile(a[6]);
    r = ftp.DoAction(put ? ftpUpload : ftpDownload);
  }
  if (r != 0) std::fprintf(stderr, "engine %s failed: %d %s\n", a[0], r, ftp.GetErrorText());
  ftp.DoAction(ftpLogoff);
  return r == 0 ? 0 : 1;
}

struct Figures {
  bench::Runs engineGet, curlGet, enginePut, curlPut;
};

template <class Server>
bool Measure(const char* name, const std::string& user, const std::string& password, Figures& f) {
  Server server;
  peers::TempDir local("tavlin-bench-ftp");
  const std::string dir = server.home();
  const std::string source = local.File("source.bin");
  {
    std::string data(kSize, '\0');
    for (std::size_t i = 0; i < kSize; ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    peers::WriteFileBytes(source, data);
    peers::WriteFileBytes(server.root() + "/big.bin", data);
  }
  const std::string self = bench::Quote(bench::SelfPath());
  const std::string login = " " + std::to_string(server.port()) + " " + bench::Quote(user) + " " +
                            bench::Quote(password) + " " + bench::Quote(dir) + " ";
  const std::string base = "ftp://" + user + ":" + password + "@127.0.0.1:" + std::to_string(server.port()) +
                           (dir == "/" ? "" : dir) + "/";
  const std::string engineOut = local.File("engine.bin"), curlOut = local.File("curl.bin");
  const std::string engineGet = self + " --engine get" + login + "big.bin " + bench::Quote(engineOut);
  const std::string curlGet = "curl -s -o " + bench::Quote(curlOut) + " " + bench::Quote(base + "big.bin");
  const std::string enginePut = self + " --engine put" + login + "engine-up.bin " + bench::Quote(source);
  const std::string curlPut = "curl -s -T " + bench::Quote(source) + " " + bench::Quote(base + "curl-up.bin");
  const auto sized = [&](const std::string& path) { return bench::FileSize(path) == static_cast<long long>(kSize); };

  std::printf("%s:\n", name);
  if (bench::TimeCommand(engineGet) < 0 || bench::TimeCommand(curlGet) < 0) return false;
  for (int round = 1; round <= kRounds; ++round) {
    std::remove((server.root() + "/engine-up.bin").c_str());
    std::remove((server.root() + "/curl-up.bin").c_str());
    const double eg = bench::TimeCommand(engineGet), cg = bench::TimeCommand(curlGet);
    const double ep = bench::TimeCommand(enginePut), cp = bench::TimeCommand(curlPut);
    if (eg < 0 || cg < 0 || ep < 0 || cp < 0 || !sized(engineOut) || !sized(curlOut) ||
        !sized(server.root() + "/engine-up.bin") || !sized(server.root() + "/curl-up.bin")) {
      std::fprintf(stderr, "round %d: a transfer failed or came out short\n", round);
      return false;
    }
    std::printf("  round %d: download engine %.3f s, curl %.3f s; upload engine %.3f s, curl %.3f s\n", round, eg,
                cg, ep, cp);
    f.engineGet.Add(eg);
    f.curlGet.Add(cg);
    f.enginePut.Add(ep);
    f.curlPut.Add(cp);
  }
  bench::Report("download, curl -o", f.curlGet);
  bench::Report("download, engine into LocalFile", f.engineGet, &f.curlGet, 0.80);
  bench::Report("upload, curl -T", f.curlPut);
  bench::Report("upload, engine from LocalFile", f.enginePut, &f.curlPut, 1.00);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 9 && std::strcmp(argv[1], "--engine") == 0) return EngineTransfer(argv + 2);
  std::printf("FTP, 100 MiB each way, passive, whole processes with logon, %d rounds\n", kRounds);
  Figures py, vs;
  if (!Measure<peers::Pyftpdlib>("pyftpdlib", peers::Pyftpdlib::kUser, peers::Pyftpdlib::kPassword, py)) return 1;
  if (!Measure<peers::Vsftpd>("vsftpd", "anonymous", "", vs)) return 1;
  return 0;
}
