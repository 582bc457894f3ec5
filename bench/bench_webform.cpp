// Web-form submits of 1,000, 10,000 and 30,000 variables to a local server that reads the
// whole request and answers, URL-encoded and multipart: building the body from the variable lists, sending it and reading the answer.
// The anchor is the same submit with 1,000 variables scaled up: a ratio near 1 means the
// cost grows linearly. Best and median of 5, in-process.
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/timing.h"
#include "corv/http/WebForm.h"
#include "platform/winsock/winsock.h"
#include "tests/peers/http_capture.h"

namespace {

constexpr int kRounds = 5;
constexpr double kGoalMs = 20.0;

// Times of repeated submits of n variables; false on failure.
bool Submit(peers::HttpCapture& server, const std::string& url, int encoding, int n, bench::Runs& runs) {
  CWebForm form;
  if (!form.Init()) return false;
  form.SetEncoding(encoding);
  for (int i = 0; i < n; ++i) {
    const std::string name = "name" + std::to_string(i), value = "value " + std::to_string(i) + "&x";
    if (form.AddFormVar(name.c_str(), value.c_str()) != 0) return false;
  }
  for (int round = 0; round < kRounds; ++round) {
    form.SetURL(url.c_str(), false);
    const auto t0 = std::chrono::steady_clock::now();
    const int r = form.DoAction(kWebFormSubmit);
    runs.Add(bench::Seconds(std::chrono::steady_clock::now() - t0));
    server.NextRequest(0);  // not kept across rounds
    if (r != 0) {
      std::fprintf(stderr, "submit of %d variables failed: %d %s\n", n, r, form.GetErrorText());
      return false;
    }
  }
  return true;
}

}  // namespace

int main() {
  winsock::EnsureRegistered();
  peers::HttpCapture server;
  const std::string url = server.Url("/form");
  std::printf("Web-form submit to a local server, %d rounds; ratio: time over 1,000 variables' time scaled to n\n", kRounds);
  for (int encoding : {kWebFormURLEncoded, kWebFormMultipart}) {
    std::printf("%s:\n", encoding == kWebFormURLEncoded ? "URL-encoded" : "multipart/form-data");
    bench::Runs base;
    if (!Submit(server, url, encoding, 1000, base)) return 1;
    for (int n : {1000, 10000, 30000}) {
      bench::Runs runs;
      if (n == 1000) {
        runs = base;
      } else if (!Submit(server, url, encoding, n, runs)) {
        return 1;
      }
      const double scale = n / 1000.0;
      std::printf("  %6d variables: best %7.2f ms, median %7.2f ms   ratio best %.2f, median %.2f", n,
                  runs.Best() * 1e3, runs.Median() * 1e3, runs.Best() / (base.Best() * scale),
                  runs.Median() / (base.Median() * scale));
      if (n == 30000) std::printf("   (goal < %.0f ms)", kGoalMs);
      std::printf("\n");
    }
  }
  return 0;
}
