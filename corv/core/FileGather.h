// Writes to a local file gathered into one buffer. Received data comes in blocks of the
// receive buffer's 2 KiB, and the file system pays its work per write call, twice per page
// at that size. The owner flushes before it closes the file and before the caller may look
// at it; a failed write is known only then.
#pragma once
#include <cstdint>

#include "platform/win32/types.h"

class CFileGather {
 public:
  static constexpr std::uint32_t kSize = 256 * 1024;

  CFileGather() = default;
  ~CFileGather();
  CFileGather(const CFileGather&) = delete;
  CFileGather& operator=(const CFileGather&) = delete;

  // Takes n bytes for the file, writing what is gathered when they do not fit. False when
  // that write failed; the gathered bytes and these are then dropped.
  bool Write(HANDLE file, const char* data, std::uint32_t n);
  // Writes what is gathered. False when that failed. Empty afterwards either way.
  bool Flush(HANDLE file);

 private:
  char* m_buffer = nullptr;  // kSize bytes, taken at the first write
  std::uint32_t m_count = 0;
};
