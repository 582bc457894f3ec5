// One part of a MIME message, the list that owns the parts, and the part's header block.
#pragma once
#include <cstdint>
#include <cstring>

#include "corv/core/DynStr.h"
#include "corv/mime/Stream.h"

// Transfer-encoding indexes; kEncodingUnrecognised is what the reader stores for a name that
// is not in the table.
enum TransferEncoding : int {
  kEncoding7Bit = 0,
  kEncodingQP = 1,
  kEncodingBase64 = 2,
  kEncoding8Bit = 3,
  kEncodingBinary = 4,
  kEncodingUnknown = 5,
  kEncodingUnrecognised = 6,
};

// The name of a transfer-encoding index followed by CR LF; "unknown" for any index outside
// the table.
const char* TransferEncodingLine(int index);
// The first index whose name begins with value (no case), 6 when none does; "" gives 0.
int EncodingIndex(const char* value);

class CMIMEPart {
 public:
  // Rebuilds part->headers from the part's fields. mode 1 writes 8-bit names as encoded
  // words. 0 or 200.
  static int BuildHeaders(CMIMEPart* part, int mode);

  int encoding = 0;
  int size = 0;
  int offset = 0;
  int rawLength = 0;
  DynStr contentType;
  DynStr contentId;
  DynStr contentTypeParams;
  DynStr disposition;
  DynStr dispositionParams;
  DynStr sourceFile;
  DynStr body;
  DynStr filename;
  DynStr name;
  DynStr headers;
};

// Owns its items; the pointers live in one engine string used as a byte buffer.
template <class T>
class Container {
 public:
  Container() = default;
  ~Container() { SetCount(0); }
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;

  // Grows with new empty items or destroys the items from n on. 0, or 200 (the count then
  // covers the items made so far).
  int SetCount(int n) {
    if (n < 0) n = 0;
    if (n > count) {
      std::uint64_t bytes = std::uint64_t(n) * sizeof(T*);
      if (bytes > 0xFFFFFFF0u || slots_.Length() < bytes) {
        if (bytes > 0xFFFFFFF0u || slots_.Set(static_cast<std::uint32_t>(bytes))) return 200;
      }
      while (count < n) {
        T* item = CorvNew<T>();
        if (!item) return 200;
        Put(count, item);
        ++count;
      }
      return 0;
    }
    while (count > n) {
      T* item = Get(count - 1);
      Put(count - 1, nullptr);
      --count;
      CorvDelete(item);
    }
    return 0;
  }

  int Count() const { return count; }
  T* Get(int i) const {
    if (i < 0 || i >= count) return nullptr;
    T* p;
    std::memcpy(&p, slots_.Text() + std::size_t(i) * sizeof(T*), sizeof p);
    return p;
  }
  T* operator[](int i) const { return Get(i); }

  int count = 0;

 private:
  void Put(int i, T* p) { std::memcpy(slots_.Text() + std::size_t(i) * sizeof(T*), &p, sizeof p); }
  DynStr slots_;
};
