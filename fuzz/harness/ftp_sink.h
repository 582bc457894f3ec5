// An FTP event sink that reads every text it is given.
#pragma once
#include <cstring>

#include "corv/ftp/FTPEvts.h"
#include "fuzz/harness/touch.h"

namespace fuzzpeer {

class FtpSink final : public FTPEvts {
 public:
  int DirList(const char* const& entry, const char* const& name, const int&, const std::int32_t&,
              const char* const& time) override {
    Touch(entry);
    Touch(name);
    Touch(time);
    // The name is the rest of the line.
    const std::size_t e = std::strlen(entry), n = std::strlen(name);
    if (n > e || std::memcmp(entry + e - n, name, n) != 0) __builtin_trap();
    return 0;
  }
  int EndTransfer() override { return 0; }
  int Error(const std::uint16_t&, const char* const& d) override { return Touch(d), 0; }
  int PITrail(const std::uint16_t&, const char* const& d) override { return Touch(d), 0; }
  int StartTransfer() override { return 0; }
  int Transfer(const std::int32_t&, const char* const& text, const std::uint16_t& length) override {
    Touch(text, length + 1u);
    return 0;
  }
};

}  // namespace fuzzpeer
