// What the SMTP engine reports. Texts live only for the call; every operation returns 0.
#pragma once
#include <cstdint>

class SMTPEvts {
 public:
  virtual int EndTransfer() = 0;
  virtual int Error(std::uint16_t code, const char* text) = 0;
  virtual int Expand(const char* text) = 0;
  // direction 0: a command line sent, 1: a reply line received, 2: a status text.
  virtual int PITrail(std::uint16_t direction, const char* text) = 0;
  virtual int StartTransfer() = 0;
  virtual int Transfer(std::uint32_t bytes) = 0;

 protected:
  ~SMTPEvts() = default;
};

// What the mail builder reports to its component: the SMTP events without Expand.
class FileMailerEvts {
 public:
  virtual int EndTransfer() = 0;
  virtual int Error(std::uint16_t code, const char* text) = 0;
  virtual int PITrail(std::uint16_t direction, const char* text) = 0;
  virtual int StartTransfer() = 0;
  virtual int Transfer(std::uint32_t bytes) = 0;

 protected:
  ~FileMailerEvts() = default;
};
