// What the HTTP engine reports to its component. Direction 0 is the request body being sent,
// 1 the response body being received. Texts live only for the call; a Transfer text is
// followed by a NUL for the call's duration, so it also reads as a NUL-terminated text.
#pragma once
#include <cstdint>

class HTTPEvts {
 public:
  virtual void Connected(int code, const char* description) = 0;
  virtual void Disconnected(int code, const char* description) = 0;
  virtual void EndTransfer(std::uint16_t direction) = 0;
  virtual void Error(int code, const char* description) = 0;
  virtual void Header(const char* field, const char* value) = 0;
  virtual void SetCookie(const char* name, const char* value, const char* expires,
                         const char* domain, const char* path, int secure) = 0;
  virtual void StartTransfer(std::uint16_t direction) = 0;
  virtual void Transfer(std::uint16_t direction, std::uint32_t bytesTransferred,
                        const char* text, std::uint16_t length) = 0;

 protected:
  ~HTTPEvts() = default;
};
