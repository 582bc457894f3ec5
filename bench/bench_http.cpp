// GET of a 100 MB file from a local nginx through the HTTP engine into LocalFile, beside
// curl fetching the same file in the same run. Prints both times and their ratio, and, for
// comparison, the engine with a socket receive buffer of 4 MiB instead of the port's 2048
// bytes (which the socket layer applies as SO_RCVBUF).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "corv/http/HTTP.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/nginx.h"

namespace {

constexpr std::size_t kSize = 100u * 1024u * 1024u;
constexpr int kRounds = 3;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

long long FileSize(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Best time of one GET into LocalFile, or a negative value on failure.
double EngineGet(CHTTP& http, const std::string& url, const std::string& out) {
  http.SetURL(url.c_str(), false);
  http.LocalFile.SetText(out.c_str());
  auto t0 = std::chrono::steady_clock::now();
  int r = http.DoAction(1);
  double t = Seconds(std::chrono::steady_clock::now() - t0);
  if (r != 0 || FileSize(out) != static_cast<long long>(kSize)) {
    std::fprintf(stderr, "engine GET failed: %d %s (size %lld)\n", r, http.GetErrorText(), FileSize(out));
    return -1;
  }
  return t;
}

}  // namespace

int main() {
  peers::Nginx server(kSize);
  peers::TempDir dir("tavlin-bench-http");
  const std::string url = server.Url("/big.bin");
  const std::string engineOut = dir.File("engine.bin");
  const std::string curlOut = dir.File("curl.bin");

  winsock::EnsureRegistered();
  CHTTP http, wide;
  if (!http.Init() || !wide.Init()) {
    std::fprintf(stderr, "engine initialisation failed\n");
    return 1;
  }
  wide.InBufferSize = 4 << 20;
  double bestEngine = 1e9, bestWide = 1e9, bestCurl = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const double engine = EngineGet(http, url, engineOut);
    const double widened = EngineGet(wide, url, engineOut);
    if (engine < 0 || widened < 0) return 1;
    const std::string cmd = "curl -s -o '" + curlOut + "' '" + url + "'";
    auto t0 = std::chrono::steady_clock::now();
    int c = std::system(cmd.c_str());
    const double curl = Seconds(std::chrono::steady_clock::now() - t0);
    if (c != 0 || FileSize(curlOut) != static_cast<long long>(kSize)) {
      std::fprintf(stderr, "curl failed: %d\n", c);
      return 1;
    }
    std::printf("round %d: engine %.3f s, engine (4 MiB SO_RCVBUF) %.3f s, curl %.3f s\n", round + 1,
                engine, widened, curl);
    if (engine < bestEngine) bestEngine = engine;
    if (widened < bestWide) bestWide = widened;
    if (curl < bestCurl) bestCurl = curl;
  }
  const double mb = static_cast<double>(kSize) / (1024.0 * 1024.0);
  std::printf("GET 100 MB into LocalFile, best of %d: engine %.3f s (%.0f MB/s), curl -o %.3f s "
              "(%.0f MB/s), ratio %.2f (goal <= 1.50)\n",
              kRounds, bestEngine, mb / bestEngine, bestCurl, mb / bestCurl, bestEngine / bestCurl);
  std::printf("with a 4 MiB socket receive buffer: engine %.3f s, ratio %.2f\n", bestWide,
              bestWide / bestCurl);
  return 0;
}
