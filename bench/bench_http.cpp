// GET of a 100 MiB file from a local nginx through the HTTP engine into LocalFile, beside
// curl -o fetching the same file in the same run. Both are timed the same way, as whole
// processes (this program runs its own engine mode for that); best and median of 5.
//   bench_http                 the comparison
//   bench_http --get URL FILE  one GET through the engine into FILE
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/timing.h"
#include "corv/http/HTTP.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/nginx.h"

namespace {

constexpr std::size_t kSize = 100u * 1024u * 1024u;
constexpr int kRounds = 5;

int EngineGet(const char* url, const char* file) {
  winsock::EnsureRegistered();
  CHTTP http;
  if (!http.Init()) return 1;
  http.SetURL(url, false);
  http.LocalFile.SetText(file);
  const int r = http.DoAction(1);
  if (r != 0) std::fprintf(stderr, "engine GET failed: %d %s\n", r, http.GetErrorText());
  return r == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--get") == 0) return EngineGet(argv[2], argv[3]);

  peers::Nginx server(kSize);
  peers::TempDir dir("tavlin-bench-http");
  const std::string url = server.Url("/big.bin");
  const std::string engineOut = dir.File("engine.bin"), curlOut = dir.File("curl.bin");
  const std::string engineCmd = bench::Quote(bench::SelfPath()) + " --get " + bench::Quote(url) + " " +
                                bench::Quote(engineOut);
  const std::string curlCmd = "curl -s -o " + bench::Quote(curlOut) + " " + bench::Quote(url);

  // One untimed run each, so that both find the file in the page cache.
  if (bench::TimeCommand(engineCmd) < 0 || bench::TimeCommand(curlCmd) < 0) return 1;
  bench::Runs engine, curl;
  for (int round = 1; round <= kRounds; ++round) {
    const double e = bench::TimeCommand(engineCmd);
    const double c = bench::TimeCommand(curlCmd);
    if (e < 0 || c < 0 || bench::FileSize(engineOut) != static_cast<long long>(kSize) ||
        bench::FileSize(curlOut) != static_cast<long long>(kSize)) {
      std::fprintf(stderr, "round %d: a transfer failed or came out short\n", round);
      return 1;
    }
    std::printf("round %d: engine %.3f s, curl %.3f s\n", round, e, c);
    engine.Add(e);
    curl.Add(c);
  }
  std::printf("GET 100 MiB into a file, whole processes, %d rounds:\n", kRounds);
  bench::Report("curl -o", curl);
  bench::Report("engine into LocalFile", engine, &curl, 0.80);
  return 0;
}
