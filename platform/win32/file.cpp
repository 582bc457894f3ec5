#include "platform/win32/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/detail/handles.h"
#include "platform/win32/misc.h"

namespace {

using win32::detail::AddHandle;
using win32::detail::FromHandle;
using win32::detail::KernelObject;

std::string ToPosix(const char* name) {
  std::string path(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

DWORD ErrorFromErrno(int err, const std::string& path) {
  switch (err) {
    case ENOENT:
      return DirectoryExists(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case EFAULT:
      return ERROR_INVALID_PARAMETER;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

class File final : public KernelObject {
 public:
  File(int fd, DWORD access) : fd_(fd), access_(access) {}
  ~File() override {
    if (fd_ >= 0) ::close(fd_);
  }

  BOOL Read(void* buffer, DWORD toRead, DWORD* read) override {
    if (read) *read = 0;
    if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    if (!buffer && toRead) return Fail(ERROR_INVALID_PARAMETER);
    DWORD done = 0;
    // A regular file gives all that was asked for unless it ends first.
    while (done < toRead) {
      const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, toRead - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (read) *read = done;
        return Fail(ErrorFromErrno(errno, {}));
      }
      if (n == 0) break;
      done += static_cast<DWORD>(n);
    }
    if (read) *read = done;
    return TRUE;
  }

  BOOL Write(const void* buffer, DWORD toWrite, DWORD* written) override {
    if (written) *written = 0;
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    if (!buffer && toWrite) return Fail(ERROR_INVALID_PARAMETER);
    DWORD done = 0;
    while (done < toWrite) {
      const ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, toWrite - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (written) *written = done;
        return Fail(ErrorFromErrno(errno, {}));
      }
      done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return TRUE;
  }

  DWORD Seek(LONG distance, PLONG distanceHigh, DWORD method) override {
    std::int64_t move = distance;
    if (distanceHigh)
      move = static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                                       static_cast<std::uint32_t>(distance));
    int whence;
    switch (method) {
      case FILE_BEGIN: whence = SEEK_SET; break;
      case FILE_CURRENT: whence = SEEK_CUR; break;
      case FILE_END: whence = SEEK_END; break;
      default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
    }
    std::int64_t base = 0;
    if (whence != SEEK_SET) {
      struct stat st {};
      base = whence == SEEK_CUR ? ::lseek(fd_, 0, SEEK_CUR) : (::fstat(fd_, &st) == 0 ? st.st_size : -1);
      if (base < 0) {
        SetLastError(ErrorFromErrno(errno, {}));
        return INVALID_SET_FILE_POINTER;
      }
    }
    const std::int64_t target = base + move;
    if (target < 0) {
      SetLastError(ERROR_NEGATIVE_SEEK);
      return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the caller could not see a position beyond 32 bits: refuse it
    // rather than report a truncated one.
    if (!distanceHigh && target >= 0xFFFFFFFFll) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
    }
    if (::lseek(fd_, target, SEEK_SET) < 0) {
      SetLastError(ErrorFromErrno(errno, {}));
      return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
    // Lets a caller tell a low part of 0xFFFFFFFF from a failure.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
  }

  DWORD Size(DWORD* high) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      SetLastError(ErrorFromErrno(errno, {}));
      return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (high) {
      *high = static_cast<DWORD>(size >> 32);
    } else if (size >= 0xFFFFFFFFull) {
      SetLastError(ERROR_ARITHMETIC_OVERFLOW);
      return INVALID_FILE_SIZE;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
  }

  BOOL Close() override {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return Fail(ErrorFromErrno(errno, {}));
    return TRUE;
  }

 private:
  static BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
  }
  int fd_;
  DWORD access_;
};

HANDLE OpenFailed(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES*, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE) {
  if (!fileName) return OpenFailed(ERROR_INVALID_PARAMETER);
  if (std::strncmp(fileName, "\\\\.\\", 4) == 0)
    return win32::detail::OpenDevice(fileName, access, shareMode, disposition, flagsAndAttributes);
  const std::string path = ToPosix(fileName);
  if (path.empty()) return OpenFailed(ERROR_PATH_NOT_FOUND);
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return OpenFailed(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) return OpenFailed(ERROR_INVALID_PARAMETER);

  int flags = O_CLOEXEC;
  const bool reading = access & GENERIC_READ, writing = access & GENERIC_WRITE;
  flags |= reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
  const mode_t mode = 0666;
  bool existed = false;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    switch (disposition) {
      case CREATE_NEW:
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
        break;
      case OPEN_EXISTING:
        fd = ::open(path.c_str(), flags);
        break;
      case TRUNCATE_EXISTING:
        fd = ::open(path.c_str(), flags | O_TRUNC);
        break;
      case CREATE_ALWAYS:
      case OPEN_ALWAYS: {
        // Tell whether the file was there before: try to create it first.
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
        if (fd >= 0 || errno != EEXIST) break;
        existed = true;
        fd = ::open(path.c_str(), flags | (disposition == CREATE_ALWAYS ? O_TRUNC : 0));
        // Deleted in between: go round again.
        if (fd < 0 && errno == ENOENT) {
          existed = false;
          continue;
        }
        break;
      }
    }
    if (fd < 0 && errno == EINTR) continue;
    break;
  }
  if (fd < 0) {
    const int err = errno;
    if (disposition == CREATE_NEW && err == EEXIST) return OpenFailed(ERROR_FILE_EXISTS);
    return OpenFailed(ErrorFromErrno(err, path));
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return OpenFailed(ERROR_ACCESS_DENIED);
  }
  HANDLE h = AddHandle(std::make_unique<File>(fd, access));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped) {
  if (overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  KernelObject* object = FromHandle(file);
  if (!object) {
    if (read) *read = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return object->Read(buffer, toRead, read);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, OVERLAPPED* overlapped) {
  if (overlapped) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  KernelObject* object = FromHandle(file);
  if (!object) {
    if (written) *written = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return object->Write(buffer, toWrite, written);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  KernelObject* object = FromHandle(file);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  return object->Seek(distance, distanceHigh, method);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  KernelObject* object = FromHandle(file);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  return object->Size(sizeHigh);
}

BOOL CloseHandle(HANDLE handle) {
  KernelObject* object = FromHandle(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const BOOL closed = object->Close();
  const DWORD error = GetLastError();
  win32::detail::RemoveHandle(handle);
  SetLastError(error);
  return closed;
}

BOOL DeleteFileA(LPCSTR fileName) {
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = ToPosix(fileName);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (::unlink(path.c_str()) != 0) {
    SetLastError(ErrorFromErrno(errno, path));
    return FALSE;
  }
  return TRUE;
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env && *env ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  const auto length = static_cast<DWORD>(dir.size());
  if (!buffer || size <= length) return length + 1;  // what the buffer must hold
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return length;
}

UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
  if (!path || !tempFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string dir = path;
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  const std::string pre = prefix ? std::string(prefix).substr(0, 3) : std::string();
  auto nameFor = [&](UINT number) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", number & 0xFFFFu);
    return dir + pre + hex + ".TMP";
  };
  auto deliver = [&](const std::string& name, UINT number) -> UINT {
    std::memcpy(tempFileName, name.c_str(), name.size() + 1);
    return number;
  };
  // The caller's buffer holds MAX_PATH characters.
  if (nameFor(0xFFFF).size() >= MAX_PATH) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  if (unique != 0) return deliver(nameFor(unique & 0xFFFF), unique & 0xFFFF);

  UINT number = (GetTickCount() ^ static_cast<UINT>(getpid())) & 0xFFFF;
  for (UINT tries = 0; tries < 0x10000; ++tries, number = (number + 1) & 0xFFFF) {
    if (number == 0) continue;
    const std::string name = nameFor(number);
    const std::string posix = ToPosix(name.c_str());
    const int fd = ::open(posix.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      SetLastError(ErrorFromErrno(errno, posix));
      return 0;
    }
    ::close(fd);
    return deliver(name, number);
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}
