#include "platform/win32/memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct Block {
  void* data;
  std::size_t size;
  bool moveable;
  int locks = 0;
};

struct Heap {
  std::mutex mutex;
  // Keyed by what GlobalAlloc returned: the data itself for fixed blocks, a handle of its own
  // for moveable ones.
  std::unordered_map<HGLOBAL, Block> blocks;
  std::uintptr_t lastHandle = 0x20000;
  int skip = 0;
  int fail = 0;  // < 0: every allocation fails
};

Heap& TheHeap() {
  static Heap* h = new Heap;
  return *h;
}

// Called with the lock held; true when this allocation is to fail.
bool InjectedFailure(Heap& h) {
  if (h.fail == 0) return false;
  if (h.skip > 0) {
    --h.skip;
    return false;
  }
  if (h.fail > 0) --h.fail;
  return true;
}

constexpr int kMaxLocks = 255;

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes) {
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  if (InjectedFailure(h)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Never a zero-byte request: every block has an address of its own.
  void* data = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (!data) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const bool moveable = flags & GMEM_MOVEABLE;
  HGLOBAL key = data;
  if (moveable) {
    h.lastHandle += 8;
    key = reinterpret_cast<HGLOBAL>(h.lastHandle);
  }
  h.blocks.emplace(key, Block{data, bytes, moveable});
  return key;
}

namespace {

// With the heap locked: the block of a handle, or null with ERROR_INVALID_HANDLE.
Block* FindBlock(Heap& h, HGLOBAL mem) {
  auto it = h.blocks.find(mem);
  if (it != h.blocks.end()) return &it->second;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

}  // namespace

HGLOBAL GlobalReAlloc(HGLOBAL mem, std::size_t bytes, UINT flags) {
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  Block* found = FindBlock(h, mem);
  if (!found) return nullptr;
  Block& b = *found;
  // A fixed or locked block keeps its address unless the caller lets it move.
  const bool mayMove = (b.moveable && b.locks == 0) || (flags & GMEM_MOVEABLE);
  if (bytes > b.size && !mayMove) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bytes > b.size && InjectedFailure(h)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bytes > b.size) {
    void* data = std::realloc(b.data, bytes);
    if (!data) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    if (flags & GMEM_ZEROINIT) std::memset(static_cast<char*>(data) + b.size, 0, bytes - b.size);
    b.data = data;
  }
  b.size = bytes;
  if (b.moveable) return mem;
  Block moved = b;
  h.blocks.erase(mem);
  h.blocks.emplace(moved.data, moved);
  return moved.data;
}

LPVOID GlobalLock(HGLOBAL mem) {
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  Block* found = FindBlock(h, mem);
  if (!found) return nullptr;
  Block& b = *found;
  if (b.moveable && b.locks < kMaxLocks) ++b.locks;
  return b.data;
}

BOOL GlobalUnlock(HGLOBAL mem) {
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  Block* found = FindBlock(h, mem);
  if (!found) return FALSE;
  Block& b = *found;
  if (!b.moveable) {
    // Fixed blocks have no lock count.
    SetLastError(ERROR_SUCCESS);
    return FALSE;
  }
  if (b.locks == 0) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  if (--b.locks > 0) return TRUE;
  SetLastError(ERROR_SUCCESS);
  return FALSE;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  if (!mem) return nullptr;
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  auto it = h.blocks.find(mem);
  if (it == h.blocks.end()) {
    // Returned unchanged as Windows does: the caller still owns whatever it was.
    SetLastError(ERROR_INVALID_HANDLE);
    return mem;
  }
  std::free(it->second.data);
  h.blocks.erase(it);
  return nullptr;
}

std::size_t GlobalSize(HGLOBAL mem) {
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  const Block* b = FindBlock(h, mem);
  return b ? b->size : 0;
}

namespace win32::test {

void FailGlobalAllocs(int skip, int count) {
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  h.skip = skip < 0 ? 0 : skip;
  h.fail = count;
}

void ResetGlobalAllocFailures() {
  Heap& h = TheHeap();
  std::lock_guard lock(h.mutex);
  h.skip = 0;
  h.fail = 0;
}

}  // namespace win32::test
