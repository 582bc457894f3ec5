// Files the engine targets hand to the engines, one set per fuzzing process.
#pragma once
#include <cstdio>
#include <string>
#include <unistd.h>

namespace fuzzpeer {

inline std::string TempPath(const char* what) {
  return "/tmp/tavlin-fuzz-" + std::to_string(getpid()) + "-" + what;
}

// Writes the file once per process and gives its name.
inline std::string TempFile(const char* what, const char* contents) {
  const std::string path = TempPath(what);
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fputs(contents, f);
    std::fclose(f);
  }
  return path;
}

}  // namespace fuzzpeer
