// The framework's exception classes. Exception carries the text shown to the user in Message.
#pragma once
#include <exception>

#include "platform/vcl/core/ansistring.h"

class Exception : public std::exception {
 public:
  explicit Exception(const AnsiString& message) : Message(message) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  ~Exception() override = default;
  const char* what() const noexcept override { return Message.c_str(); }

  AnsiString Message;
};

class EOutOfMemory : public Exception {
 public:
  using Exception::Exception;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class ERangeError : public Exception {
 public:
  using Exception::Exception;
};

// Raised while reading a form description: unknown class or property, bad value, syntax.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// Silent exception: HandleException shows nothing for it.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

[[noreturn]] void Abort();
