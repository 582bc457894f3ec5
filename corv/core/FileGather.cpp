#include "corv/core/FileGather.h"

#include <cstring>

#include "corv/core/Alloc.h"
#include "platform/win32/file.h"

namespace {
bool WriteAll(HANDLE file, const char* data, std::uint32_t n) {
  DWORD written = 0;
  return WriteFile(file, data, n, &written, nullptr) && written == n;
}
}  // namespace

CFileGather::~CFileGather() { CorvFree(m_buffer); }

bool CFileGather::Write(HANDLE file, const char* data, std::uint32_t n) {
  if (m_count + static_cast<std::uint64_t>(n) > kSize && !Flush(file)) return false;
  if (!m_buffer && n < kSize) m_buffer = static_cast<char*>(CorvMalloc(kSize));
  // Without the memory, or for a block as large as the buffer, the write goes straight on.
  if (!m_buffer || n >= kSize) return n == 0 || WriteAll(file, data, n);
  std::memcpy(m_buffer + m_count, data, n);
  m_count += n;
  return true;
}

bool CFileGather::Flush(HANDLE file) {
  const std::uint32_t n = m_count;
  m_count = 0;
  return n == 0 || WriteAll(file, m_buffer, n);
}
