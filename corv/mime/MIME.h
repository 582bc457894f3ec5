// The MIME engine: writes a multipart (or single-part) message body from a list of parts to a
// file or into `message`, and reads a message's structure (headers, body offsets and lengths)
// back into parts without decoding the bodies. It opens no socket, but as an engine it has
// its own hidden window: its owner runs Init on it after setting its fields.
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"
#include "corv/core/Wsock.h"
#include "corv/mime/MIMEPart.h"

// What an attached event sink receives.
class MIMEEvts {
 public:
  virtual void Progress(WORD percent) = 0;

 protected:
  ~MIMEEvts() = default;
};

enum MIMEAction : int {
  kMIMENone = 0,
  kMIMEDecodeFile = 1,
  kMIMEDecodeString = 2,
  kMIMEEncodeFile = 3,
  kMIMEEncodeString = 4,
  kMIMEReset = 5,
};

enum MIMEResult : int {
  kMIMEBadVersion = 281,
  kMIMENoBoundary = 282,
  kMIMEBusy = 284,
};

class CMIME : public CWsock {
 public:
  CMIME() = default;
  ~CMIME() override = default;

  int DoAction(int action);
  // Stores a part's body and, unless the owner chose them, its type and transfer encoding.
  // An owner that writes the header block itself passes buildHeaders false.
  int SetPartData(WORD index, const char* data, std::uint32_t length, bool buildHeaders = true);
  virtual int FireProgress(WORD percent);
  // Progress of an input stream, as a percent of the whole message while encoding.
  static void ProgressRelay(void* engine, WORD percent);

  std::uint8_t alwaysMultipart = 0;
  DynStr boundary;
  DynStr message;
  DynStr messageHeaders;
  DynStr contentType;
  DynStr contentTypeParams;
  std::uint8_t action = 0;
  const char* boundaryPrefix = "--boundary";
  Container<CMIMEPart> parts;
  WORD currentPart = 0;

 private:
  int Encode(int act);
  int Decode(int act);
  int Reset();
  int GenerateBoundary();
  int ParseTopHeaders();
  int ParsePartHeaders(CMIMEPart* part);
  std::uint64_t StringRoom();
};
