// GET of a 100 MB file from a local nginx through the HTTP engine into LocalFile, beside
// curl fetching the same file in the same run. Prints both times and their ratio.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "corv/http/HTTP.h"
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

}  // namespace

int main() {
  peers::Nginx server(kSize);
  peers::TempDir dir("tavlin-bench-http");
  const std::string url = server.Url("/big.bin");
  const std::string engineOut = dir.File("engine.bin");
  const std::string curlOut = dir.File("curl.bin");

  CHTTP http;
  if (!http.Init()) {
    std::fprintf(stderr, "engine initialisation failed\n");
    return 1;
  }
  double bestEngine = 1e9, bestCurl = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    http.SetURL(url.c_str(), false);
    http.LocalFile.SetText(engineOut.c_str());
    auto t0 = std::chrono::steady_clock::now();
    int r = http.DoAction(1);
    double engine = Seconds(std::chrono::steady_clock::now() - t0);
    if (r != 0 || FileSize(engineOut) != static_cast<long long>(kSize)) {
      std::fprintf(stderr, "engine GET failed: %d %s (size %lld)\n", r, http.GetErrorText(),
                   FileSize(engineOut));
      return 1;
    }
    const std::string cmd = "curl -s -o '" + curlOut + "' '" + url + "'";
    t0 = std::chrono::steady_clock::now();
    int c = std::system(cmd.c_str());
    double curl = Seconds(std::chrono::steady_clock::now() - t0);
    if (c != 0 || FileSize(curlOut) != static_cast<long long>(kSize)) {
      std::fprintf(stderr, "curl failed: %d\n", c);
      return 1;
    }
    std::printf("round %d: engine %.3f s, curl %.3f s\n", round + 1, engine, curl);
    if (engine < bestEngine) bestEngine = engine;
    if (curl < bestCurl) bestCurl = curl;
  }
  const double mb = static_cast<double>(kSize) / (1024.0 * 1024.0);
  std::printf("GET 100 MB into LocalFile: engine %.3f s (%.0f MB/s), curl -o %.3f s (%.0f MB/s), "
              "ratio %.2f (goal <= 1.50)\n",
              bestEngine, mb / bestEngine, bestCurl, mb / bestCurl, bestEngine / bestCurl);
  return 0;
}
