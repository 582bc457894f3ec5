// Shared by the benchmarks: whole-process timings, best and median of repeated runs.
#pragma once
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace bench {

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Wall time of a shell command, or a negative value when it failed.
inline double TimeCommand(const std::string& cmd) {
  const auto t0 = std::chrono::steady_clock::now();
  const int r = std::system(cmd.c_str());
  const double t = Seconds(std::chrono::steady_clock::now() - t0);
  if (r != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", r, cmd.c_str());
    return -1;
  }
  return t;
}

inline long long FileSize(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// This program's own path, to run one of its own modes as a process of its own.
inline std::string SelfPath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

class Runs {
 public:
  void Add(double t) { times_.push_back(t); }
  double Best() const { return times_.empty() ? 0 : *std::min_element(times_.begin(), times_.end()); }
  double Median() const {
    if (times_.empty()) return 0;
    std::vector<double> s = times_;
    std::sort(s.begin(), s.end());
    const std::size_t n = s.size();
    return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
  }

 private:
  std::vector<double> times_;
};

// "what: best 0.123 s, median 0.130 s" and, beside an anchor, the ratios of both.
inline void Report(const char* what, const Runs& r, const Runs* anchor = nullptr, double goal = 0) {
  std::printf("  %-34s best %.3f s, median %.3f s", what, r.Best(), r.Median());
  if (anchor && anchor->Best() > 0) {
    std::printf("   ratio best %.2f, median %.2f", r.Best() / anchor->Best(), r.Median() / anchor->Median());
    if (goal > 0) std::printf(" (goal <= %.2f)", goal);
  }
  std::printf("\n");
}

}  // namespace bench
