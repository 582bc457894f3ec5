// The GlobalAlloc family, with an injectable failure for tests (allocation never fails on
// Linux by itself).
#pragma once
#include "platform/win32/types.h"

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
HGLOBAL GlobalReAlloc(HGLOBAL mem, std::size_t bytes, UINT flags);
LPVOID GlobalLock(HGLOBAL mem);
BOOL GlobalUnlock(HGLOBAL mem);
HGLOBAL GlobalFree(HGLOBAL mem);
std::size_t GlobalSize(HGLOBAL mem);

namespace win32::test {
// The next `skip` allocations succeed, then `count` fail (count < 0: all fail); Reset ends it.
void FailGlobalAllocs(int skip, int count = 1);
void ResetGlobalAllocFailures();
}  // namespace win32::test
