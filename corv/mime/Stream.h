// Byte streams the codecs and the MIME engine read and write: a (possibly numbered) file or a
// caller's memory buffer, with progress in percent, a sticky error code and a text mode.
#pragma once
#include <cstdint>
#include <new>
#include <utility>

#include "corv/core/Alloc.h"
#include "platform/win32/file.h"
#include "platform/win32/types.h"

// Progress callback: callback(context, percent).
using StreamProgress = void (*)(void* context, WORD percent);

// Error codes of the streams; their texts are in StreamErrorText (Codec.h).
enum StreamError : int {
  kStreamCantCreate = 3,
  kStreamCantOpen = 4,
  kStreamReadFailed = 5,
  kStreamWriteFailed = 6,
  kStreamFileExists = 8,
  kStreamNoRoom = 9,
  kStreamBadName = 16,
  kStreamNoMoreFiles = 17,
  kStreamNoMemory = 200,
};

class MyStream {
 public:
  MyStream(StreamProgress callback, void* context, short step);
  virtual ~MyStream();
  MyStream(const MyStream&) = delete;
  MyStream& operator=(const MyStream&) = delete;

  virtual int Open(const char* name, DWORD access, int mode, DWORD bufferSize) = 0;
  // Bytes delivered; 0 at the end or on a failure (then `error` says which).
  virtual DWORD Read(void* buffer, DWORD n) = 0;
  // One line, LF included, at most n - 1 bytes, always zero-terminated inside the n bytes.
  virtual DWORD ReadLine(char* buffer, DWORD n) = 0;
  virtual int NextPart();
  virtual int PutByte(BYTE byte) = 0;
  virtual int Flush() = 0;
  // n == 0: data is a zero-terminated text.
  virtual int Write(const void* data, DWORD n);

  void Advance(DWORD n);
  int TakeError() {
    int e = error;
    error = 0;
    return e;
  }

  DWORD size = 0;
  DWORD position = 0;
  WORD nextMark = 0;
  short step = 0;
  int error = 0;
  StreamProgress callback = nullptr;
  void* context = nullptr;
  bool overwrite = false;
  bool completed = false;
  bool rawMode = true;
};

class MyFileStream : public MyStream {
 public:
  static constexpr DWORD kMaxBuffer = 0x80000;
  static constexpr DWORD kMinBuffer = 1024;
  static constexpr unsigned kNameRoom = 1024;

  // partCounter: the caller's file number for numbered files, or null. kind picks the
  // extension of numbered names: 0 ".UUE", 1 ".B64", other ".Q_P".
  MyFileStream(WORD* partCounter, bool overwrite, int kind, StreamProgress callback,
               void* context, short step);
  ~MyFileStream() override;

  int Open(const char* name, DWORD access, int mode, DWORD bufferSize) override;
  DWORD Read(void* buffer, DWORD n) override;
  DWORD ReadLine(char* buffer, DWORD n) override;
  int NextPart() override;
  int PutByte(BYTE byte) override;
  int Flush() override;
  int Write(const void* data, DWORD n) override;

  bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
  // The name of the file now open (numbered names formatted).
  const char* CurrentName() const { return current_; }

 private:
  int FormatName(WORD number);
  int CreateForWrite();
  int WriteOut();
  bool Refill();
  void CloseFile();

  BYTE* buffer_ = nullptr;
  DWORD bufferSize_ = 0;
  HGLOBAL memory_ = nullptr;
  // The file name, or for numbered files the text in front of the number.
  char namePattern_[kNameRoom] = {};
  char current_[kNameRoom] = {};
  WORD* partCounter_ = nullptr;
  DWORD index_ = 0;
  DWORD fill_ = 0;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool writing_ = false;
  int numberWidth_ = 0;
  int kind_ = 0;
};

class MyStringStream : public MyStream {
 public:
  // buffer: the source (reading) or the room to write into; the caller owns it.
  MyStringStream(char* buffer, DWORD length, StreamProgress callback, void* context, short step);

  int Open(const char* name, DWORD access, int mode, DWORD bufferSize) override;
  DWORD Read(void* buffer, DWORD n) override;
  DWORD ReadLine(char* buffer, DWORD n) override;
  int PutByte(BYTE byte) override;
  int Flush() override { return error; }
  int Write(const void* data, DWORD n) override;

 private:
  char* next_;
};

// Owns one file handle and closes it.
class CFileStream {
 public:
  CFileStream() = default;
  explicit CFileStream(HANDLE h) : handle(h) {}
  ~CFileStream() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  CFileStream(const CFileStream&) = delete;
  CFileStream& operator=(const CFileStream&) = delete;

  HANDLE handle = INVALID_HANDLE_VALUE;
};

// Engine objects come from the engine heap so that a failed allocation is a result, not a
// throw.
template <class T, class... A>
T* CorvNew(A&&... args) {
  void* p = CorvMalloc(sizeof(T));
  if (!p) return nullptr;
  return new (p) T(std::forward<A>(args)...);
}

template <class T>
void CorvDelete(T* p) {
  if (!p) return;
  p->~T();
  CorvFree(p);
}
