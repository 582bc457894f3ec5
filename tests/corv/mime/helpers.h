// Files, temporary folders and the reference tools (Python, coreutils, iconv) for the MIME tests.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace mimetest {

namespace fs = std::filesystem;

// A folder of its own, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> n{0};
    path_ = fs::temp_directory_path() /
            ("corv_mime_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// Runs a shell command; true when it exits with 0.
inline bool Run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

inline std::string Python() { return TAVLIN_PYTHON; }

// Runs the reference helper on `input` and returns its answer; fails the test when Python is
// missing or the helper fails.
inline std::string Check(const std::string& command, const std::string& input) {
  std::string python = Python();
  if (python.empty()) {
    ADD_FAILURE() << "no Python interpreter was found at configure time";
    return {};
  }
  TempDir dir;
  WriteFile(dir / "in", input);
  std::string cmd = "'" + python + "' '" TAVLIN_MIME_CHECK "' " + command + " '" + (dir / "in") +
                    "' '" + (dir / "out") + "'";
  if (!Run(cmd)) {
    ADD_FAILURE() << "reference helper failed: " << cmd;
    return {};
  }
  return ReadFile(dir / "out");
}

// Pipes `input` through a shell command (stdin from a file, stdout to a file).
inline std::string Filter(const std::string& command, const std::string& input) {
  TempDir dir;
  WriteFile(dir / "in", input);
  std::string cmd = "(" + command + ") < '" + (dir / "in") + "' > '" + (dir / "out") + "'";
  if (!Run(cmd)) {
    ADD_FAILURE() << "command failed: " << cmd;
    return {};
  }
  return ReadFile(dir / "out");
}

}  // namespace mimetest
