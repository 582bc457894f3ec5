// What the FTP engine reports to its component. Texts live only for the call; a Transfer
// text is followed by a NUL for the call's duration. Every operation returns 0.
#pragma once
#include <cstdint>

class FTPEvts {
 public:
  // One listing line: the line, the name, the directory flag (0 or 1), size and time text.
  virtual int DirList(const char* const& dirEntry, const char* const& fileName, const int& isDir,
                      const std::int32_t& fileSize, const char* const& fileTime) = 0;
  // The data connection closed.
  virtual int EndTransfer() = 0;
  virtual int Error(const std::uint16_t& code, const char* const& description) = 0;
  // code 0: command line sent; 1: reply line received; 2: status text of the engine.
  virtual int PITrail(const std::uint16_t& code, const char* const& description) = 0;
  // The data connection opened.
  virtual int StartTransfer() = 0;
  // Progress; text holds the received block only for downloads without a local file.
  virtual int Transfer(const std::int32_t& bytesTransferred, const char* const& text, const std::uint16_t& length) = 0;

 protected:
  ~FTPEvts() = default;
};
