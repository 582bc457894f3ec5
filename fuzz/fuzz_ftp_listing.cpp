// The directory-listing parser, line by line as the data connection hands the lines over:
// without their CR LF, with one spare byte after each.
// Flags: bit 0 LIST (long form), else NLST.
#include <cstring>
#include <memory>

#include "corv/ftp/FTP.h"
#include "fuzz/harness/ftp_sink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzpeer::FtpSink sink;
  static CFTP* ftp = [] {
    auto* e = new CFTP;
    e->Init();
    e->EventSink = static_cast<FTPEvts*>(&sink);
    return e;
  }();
  if (size == 0) return 0;
  const bool longForm = data[0] & 1;
  const char* p = reinterpret_cast<const char*>(data + 1);
  const char* end = reinterpret_cast<const char*>(data + size);
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
    const char* stop = lf ? lf : end;
    std::size_t n = stop - p;
    if (lf && n > 0 && p[n - 1] == '\r') --n;
    std::unique_ptr<char[]> line(new char[n + 1]);
    std::memcpy(line.get(), p, n);
    line[n] = '\r';
    ftp->ParseDirEntry(line.get(), static_cast<std::uint32_t>(n), longForm);
    if (line[n] != '\r') __builtin_trap();  // the byte after the line is put back
    p = stop + 1;
  }
  return 0;
}
