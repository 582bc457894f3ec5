// What the web form engine reports to its component. Unlike the HTTP engine's events, the
// transfer events carry no direction: only the response body is reported. Texts live only for
// the call; a Transfer text is followed by a NUL for the call's duration.
#pragma once
#include <cstdint>

class WebFormEvts {
 public:
  virtual void Connected(int code, const char* description) = 0;
  virtual void Disconnected(int code, const char* description) = 0;
  virtual void EndTransfer() = 0;
  virtual void Error(int code, const char* description) = 0;
  virtual void Header(const char* field, const char* value) = 0;
  virtual void SetCookie(const char* name, const char* value, const char* expires,
                         const char* domain, const char* path, int secure) = 0;
  virtual void StartTransfer() = 0;
  virtual void Transfer(std::uint32_t bytesTransferred, const char* text, std::uint16_t length) = 0;

 protected:
  ~WebFormEvts() = default;
};
