#include "corv/core/LocalFile.h"

#include <cstring>

#include "corv/core/Alloc.h"
#include "platform/win32/file.h"

namespace {
bool WriteAll(HANDLE file, const char* data, std::uint32_t n) {
  DWORD written = 0;
  return WriteFile(file, data, n, &written, nullptr) && written == n;
}
}  // namespace

bool CLocalFile::Open(const char* path, DWORD access, DWORD share, DWORD disposition) {
  Close();
  handle_ = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpen();
}

bool CLocalFile::Write(const char* data, std::uint32_t n) {
  if (n == 0) return true;
  if (count_ + static_cast<std::uint64_t>(n) > kGather && !Flush()) return false;
  if (!buffer_ && n < kGather) buffer_ = static_cast<char*>(CorvMalloc(kGather));
  // Without the memory, or for a block as large as the buffer, the write goes straight on.
  if (!buffer_ || n >= kGather) {
    if (WriteAll(handle_, data, n)) return true;
    Close();
    return false;
  }
  std::memcpy(buffer_ + count_, data, n);
  count_ += n;
  return true;
}

bool CLocalFile::Flush() {
  if (count_ == 0) return true;
  const bool written = WriteAll(handle_, buffer_, count_);
  count_ = 0;
  if (!written) Close();
  return written;
}

bool CLocalFile::Close() {
  const bool written = count_ == 0 || WriteAll(handle_, buffer_, count_);
  count_ = 0;
  if (IsOpen()) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  CorvFree(buffer_);
  buffer_ = nullptr;
  return written;
}
