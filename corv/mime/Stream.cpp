#include "corv/mime/Stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/win32/memory.h"

MyStream::MyStream(StreamProgress cb, void* ctx, short stp) : step(stp), callback(cb), context(ctx) {}

MyStream::~MyStream() {
  if (!completed || step <= 0 || position == 0 || !callback) return;
  while (nextMark <= 100) {
    callback(context, nextMark);
    nextMark = static_cast<WORD>(nextMark + step);
  }
  if (100 % step != 0) callback(context, 100);
}

int MyStream::NextPart() { return 0; }

int MyStream::Write(const void* data, DWORD n) {
  const BYTE* p = static_cast<const BYTE*>(data);
  if (n == 0) n = static_cast<DWORD>(std::strlen(static_cast<const char*>(data)));
  for (DWORD i = 0; i < n; ++i) {
    int r = PutByte(p[i]);
    if (r) return r;
  }
  return 0;
}

void MyStream::Advance(DWORD n) {
  position += n;
  // A step of 0 or less reports nothing; the percent never passes 100, so the loop ends.
  if (step <= 0 || !callback) return;
  std::uint64_t pct = size ? std::uint64_t(position) * 100u / size : 0;
  if (pct > 100) pct = 100;
  while (pct >= nextMark) {
    callback(context, nextMark);
    nextMark = static_cast<WORD>(nextMark + step);
  }
}

// ---------------------------------------------------------------------------------------

namespace {
const char* const kNumberedExt[] = {".UUE", ".B64", ".Q_P"};

HANDLE OpenForRead(const char* name) {
  return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD SizeOf(HANDLE h) {
  DWORD high = 0;
  DWORD low = GetFileSize(h, &high);
  if (low == INVALID_FILE_SIZE) return 0;
  return high ? 0xFFFFFFFFu : low;
}
}  // namespace

MyFileStream::MyFileStream(WORD* counter, bool ow, int kind, StreamProgress cb, void* ctx, short stp)
    : MyStream(cb, ctx, stp), partCounter_(counter), kind_(kind) {
  overwrite = ow;
}

MyFileStream::~MyFileStream() {
  if (writing_) WriteOut();
  CloseFile();
  if (memory_) {
    GlobalUnlock(memory_);
    GlobalFree(memory_);
  }
}

void MyFileStream::CloseFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

// The name is never used as a format: numbered names are put together piece by piece.
int MyFileStream::FormatName(WORD number) {
  int n;
  if (numberWidth_ == 0) {
    n = std::snprintf(current_, kNameRoom, "%s", namePattern_);
  } else {
    const char* ext = kNumberedExt[kind_ == 0 ? 0 : kind_ == 1 ? 1 : 2];
    n = std::snprintf(current_, kNameRoom, "%s%0*u%s", namePattern_, numberWidth_,
                      static_cast<unsigned>(number), ext);
  }
  if (n < 0 || static_cast<unsigned>(n) >= kNameRoom) {
    current_[0] = 0;
    return kStreamBadName;
  }
  return 0;
}

int MyFileStream::CreateForWrite() {
  file_ = CreateFileA(current_, GENERIC_WRITE, 0, nullptr, overwrite ? CREATE_ALWAYS : CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ != INVALID_HANDLE_VALUE) return 0;
  return !overwrite && GetLastError() == ERROR_FILE_EXISTS ? kStreamFileExists : kStreamCantCreate;
}

int MyFileStream::Open(const char* name, DWORD access, int mode, DWORD bufferSize) {
  if (!name) name = "";
  std::size_t len = std::strlen(name);
  if (len > kNameRoom - 1) return kStreamBadName;
  rawMode = mode != 0;
  CloseFile();
  index_ = fill_ = 0;

  const char* run = std::strchr(name, '?');
  numberWidth_ = 0;
  if (partCounter_ && run) {
    numberWidth_ = static_cast<int>(std::strspn(run, "?"));
    std::memcpy(namePattern_, name, run - name);
    namePattern_[run - name] = 0;
  } else {
    std::memcpy(namePattern_, name, len + 1);
  }
  WORD first = partCounter_ && numberWidth_ ? *partCounter_ : 0;
  if (int r = FormatName(first)) return r;

  writing_ = (access & GENERIC_WRITE) != 0;
  DWORD want;
  if (writing_) {
    if (int r = CreateForWrite()) return r;
    size = 0;
    want = bufferSize;
  } else {
    file_ = OpenForRead(current_);
    if (file_ == INVALID_HANDLE_VALUE) return kStreamCantOpen;
    const DWORD firstSize = SizeOf(file_);
    std::uint64_t total = firstSize;
    if (numberWidth_) {
      // The size covers every numbered file that follows.
      char keep[kNameRoom];
      std::memcpy(keep, current_, kNameRoom);
      for (unsigned k = first + 1u; k <= 0xFFFFu; ++k) {
        if (FormatName(static_cast<WORD>(k))) break;
        HANDLE h = OpenForRead(current_);
        if (h == INVALID_HANDLE_VALUE) break;
        total += SizeOf(h);
        CloseHandle(h);
      }
      std::memcpy(current_, keep, kNameRoom);
    }
    size = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(total);
    want = firstSize;
  }
  want = std::clamp(want, kMinBuffer, kMaxBuffer);

  if (memory_) {
    GlobalUnlock(memory_);
    GlobalFree(memory_);
    memory_ = nullptr;
    buffer_ = nullptr;
  }
  for (;;) {
    memory_ = GlobalAlloc(GMEM_FIXED, want);
    if (memory_ || want < 2048) break;
    want /= 2;
  }
  if (!memory_) return kStreamNoMemory;
  buffer_ = static_cast<BYTE*>(GlobalLock(memory_));
  if (!buffer_) {
    GlobalFree(memory_);
    memory_ = nullptr;
    return kStreamNoMemory;
  }
  bufferSize_ = want;
  return 0;
}

bool MyFileStream::Refill() {
  index_ = fill_ = 0;
  if (file_ == INVALID_HANDLE_VALUE || !buffer_) return false;
  DWORD got = 0;
  if (!ReadFile(file_, buffer_, bufferSize_, &got, nullptr)) {
    error = kStreamReadFailed;
    return false;
  }
  fill_ = got;
  return got != 0;
}

DWORD MyFileStream::Read(void* out, DWORD n) {
  BYTE* dst = static_cast<BYTE*>(out);
  DWORD got = 0;
  while (got < n) {
    if (index_ == fill_ && !Refill()) break;
    DWORD k = std::min(fill_ - index_, n - got);
    std::memcpy(dst + got, buffer_ + index_, k);
    index_ += k;
    got += k;
  }
  Advance(got);
  return got;
}

DWORD MyFileStream::ReadLine(char* out, DWORD n) {
  if (n == 0 || !out) return 0;
  const DWORD max = n - 1;
  DWORD got = 0;
  while (got < max) {
    if (index_ == fill_) {
      if (position + got >= size) break;
      if (!Refill()) {
        if (error) {
          out[0] = 0;
          Advance(got);
          return 0;
        }
        if (partCounter_ && numberWidth_ && NextPart() == 0) continue;
        break;
      }
    }
    // Take bytes up to the LF, the end of the buffer or the caller's room.
    DWORD avail = std::min(fill_ - index_, max - got);
    const BYTE* src = buffer_ + index_;
    const void* lf = std::memchr(src, '\n', avail);
    DWORD k = lf ? static_cast<DWORD>(static_cast<const BYTE*>(lf) - src) + 1 : avail;
    std::memcpy(out + got, src, k);
    index_ += k;
    got += k;
    if (lf) break;
  }
  DWORD taken = got;
  if (!rawMode) {
    if (got >= 2 && out[got - 1] == '\n' && out[got - 2] == '\r') {
      out[got - 2] = '\n';
      --got;
    }
    // Ctrl-Z marks the end of a text file; anywhere else it is data.
    if (got && out[got - 1] == 26 && position + taken >= size) --got;
  }
  out[got] = 0;
  Advance(taken);
  return got;
}

int MyFileStream::WriteOut() {
  if (fill_ == 0) return 0;
  DWORD wrote = 0;
  if (file_ == INVALID_HANDLE_VALUE || !WriteFile(file_, buffer_, fill_, &wrote, nullptr) ||
      wrote != fill_) {
    if (!error) error = kStreamWriteFailed;
  }
  fill_ = 0;
  return error;
}

int MyFileStream::PutByte(BYTE byte) {
  if (!buffer_) {
    if (!error) error = kStreamWriteFailed;
    return -1;
  }
  if (!rawMode && byte == '\n') {
    buffer_[fill_++] = '\r';
    ++position;
    ++size;
    if (fill_ == bufferSize_) WriteOut();
  }
  buffer_[fill_++] = byte;
  ++position;
  ++size;
  if (fill_ == bufferSize_) WriteOut();
  return error ? -1 : 0;
}

int MyFileStream::Write(const void* data, DWORD n) {
  if (!rawMode || !buffer_) return MyStream::Write(data, n);
  const BYTE* p = static_cast<const BYTE*>(data);
  if (n == 0) n = static_cast<DWORD>(std::strlen(static_cast<const char*>(data)));
  while (n) {
    DWORD k = std::min(n, bufferSize_ - fill_);
    std::memcpy(buffer_ + fill_, p, k);
    fill_ += k;
    position += k;
    size += k;
    p += k;
    n -= k;
    if (fill_ == bufferSize_) WriteOut();
  }
  return error ? -1 : 0;
}

int MyFileStream::Flush() {
  WriteOut();
  return error;
}

int MyFileStream::NextPart() {
  if (writing_) {
    WriteOut();
    position = 0;
  }
  CloseFile();
  index_ = fill_ = 0;
  if (!partCounter_ || numberWidth_ == 0) return kStreamNoMoreFiles;
  ++*partCounter_;
  if (FormatName(*partCounter_)) {
    --*partCounter_;
    return kStreamNoMoreFiles;
  }
  if (writing_) {
    if (int r = CreateForWrite()) {
      error = r;
      return r;
    }
  } else {
    file_ = OpenForRead(current_);
    if (file_ == INVALID_HANDLE_VALUE) {
      --*partCounter_;
      return kStreamNoMoreFiles;
    }
  }
  return error;
}

// ---------------------------------------------------------------------------------------

MyStringStream::MyStringStream(char* buffer, DWORD length, StreamProgress cb, void* ctx, short stp)
    : MyStream(cb, ctx, stp), next_(buffer) {
  size = length;
  rawMode = true;
  if (cb) Advance(0);
}

int MyStringStream::Open(const char*, DWORD, int mode, DWORD) {
  rawMode = mode != 0;
  return 0;
}

DWORD MyStringStream::Read(void* out, DWORD n) {
  n = std::min(n, size - position);
  if (n) std::memcpy(out, next_, n);
  next_ += n;
  Advance(n);
  return n;
}

DWORD MyStringStream::ReadLine(char* out, DWORD n) {
  if (n == 0 || !out) return 0;
  DWORD max = std::min(n - 1, size - position);
  DWORD got = 0;
  while (got < max) {
    char c = next_[got];
    out[got++] = c;
    if (c == '\n' || c == 0) break;
  }
  next_ += got;
  DWORD taken = got;
  if (!rawMode && got >= 2 && out[got - 1] == '\n' && out[got - 2] == '\r') {
    out[got - 2] = '\n';
    --got;
  }
  out[got] = 0;
  Advance(taken);
  return got;
}

int MyStringStream::PutByte(BYTE byte) {
  DWORD room = size - position;
  if (!rawMode && byte == '\n') {
    if (room >= 2) {
      next_[0] = '\r';
      next_[1] = '\n';
      next_ += 2;
      position += 2;
      return 0;
    }
    if (room == 1) {
      *next_++ = '\n';
      ++position;
    }
    error = kStreamNoRoom;
    return kStreamNoRoom;
  }
  if (room == 0) {
    error = kStreamNoRoom;
    return kStreamNoRoom;
  }
  *next_++ = static_cast<char>(byte);
  ++position;
  return 0;
}

int MyStringStream::Write(const void* data, DWORD n) {
  if (!rawMode) return MyStream::Write(data, n);
  if (n == 0) n = static_cast<DWORD>(std::strlen(static_cast<const char*>(data)));
  DWORD room = size - position;
  DWORD k = std::min(n, room);
  if (k) std::memcpy(next_, data, k);
  next_ += k;
  position += k;
  if (k < n) {
    error = kStreamNoRoom;
    return kStreamNoRoom;
  }
  return 0;
}
