// What the web form engine reports to its component. Unlike the HTTP engine's events, the
// transfer events carry no direction: only the response body is reported. Texts live only for
// the call; a Transfer text is followed by a NUL for the call's duration. Every operation
// returns 0.
#pragma once
#include <cstdint>

class WebFormEvts {
 public:
  virtual int Connected(int code, const char* description) = 0;
  virtual int Disconnected(int code, const char* description) = 0;
  virtual int EndTransfer() = 0;
  virtual int Error(int code, const char* description) = 0;
  virtual int Header(const char* field, const char* value) = 0;
  virtual int SetCookie(const char* name, const char* value, const char* expires,
                         const char* domain, const char* path, int secure) = 0;
  virtual int StartTransfer() = 0;
  virtual int Transfer(std::uint32_t bytesTransferred, const char* text, std::uint16_t length) = 0;

 protected:
  ~WebFormEvts() = default;
};
