// A local file through its handle, with the writes gathered into one buffer. Received data
// comes in blocks of the receive buffer's 2 KiB, and the file system pays its work per write
// call, twice per page at that size. Closing writes what is gathered first, also when a
// handler's exception unwinds the owner; a failed write is known at the flush.
#pragma once
#include <cstdint>

#include "platform/win32/types.h"

class CLocalFile {
 public:
  static constexpr std::uint32_t kGather = 256 * 1024;

  CLocalFile() = default;
  ~CLocalFile() { Close(); }
  CLocalFile(const CLocalFile&) = delete;
  CLocalFile& operator=(const CLocalFile&) = delete;

  // CreateFileA with normal attributes, after closing what was open. False when it failed.
  bool Open(const char* path, DWORD access, DWORD share, DWORD disposition);
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }
  // Takes n bytes for the file, writing what is gathered when they do not fit. False when
  // that write failed: the gathered bytes and these are dropped and the file is closed.
  bool Write(const char* data, std::uint32_t n);
  // Writes what is gathered. False when that failed; the file is then closed.
  bool Flush();
  // Writes what is gathered (false when that failed), closes the file and gives the buffer
  // back: a transfer's buffer is not kept for the engine's whole life.
  bool Close();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  char* buffer_ = nullptr;  // kGather bytes, taken at the first write that is gathered
  std::uint32_t count_ = 0;
};
