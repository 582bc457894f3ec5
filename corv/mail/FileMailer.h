// The mail message builder: sends the user's text as a plain message, or, with files
// attached, as a multipart/mixed message built in a temporary file (the text first, then one
// part per file). Each send opens its own connection and closes it at the end. Events go to
// the FileMailerEvts sink in EventSink.
#pragma once
#include <cstdint>

#include "corv/core/DynStrSeq.h"
#include "corv/mail/SMTP.h"
#include "corv/mime/MIME.h"

inline constexpr int FILEMAILER_TEMP_FILE = 170;
inline constexpr int FILEMAILER_BAD_PART = 280;
inline constexpr int FILEMAILER_NO_FILE = 283;

enum FileMailerAction : int { kFileMailerIdle = 0, kFileMailerSend = 1 };

// The text after the last backslash (or slash) of a path; the whole path without one.
const char* ShortFileName(const char* path);
// Makes part `index` of the MIME engine the attachment of a file: its source, size, type and
// transfer encoding by extension, name and disposition. 0, 280 or 283 (texts on the engine).
int SetPartFile(CMIME& mime, WORD index, const char* fileName);

class CFileMailer : public CSMTP {
 public:
  CFileMailer();
  ~CFileMailer() override;

  // 0 interrupts (clears the busy flag and closes the connection), 1 sends, others do nothing.
  int DoAction(int action) override;
  // Stores the user's text, converted from Shift-JIS in Japanese mode. 0 or 200.
  int SetUserText(const char* text, std::uint32_t length);

  int FireError(WORD code, const char* text) override;
  int FireEndTransfer() override;
  int FireExpand(const char* text) override;
  int FirePITrail(int direction, const char* text) override;
  int FireStartTransfer() override;
  int FireTransfer(std::uint32_t bytes) override;

  std::uint8_t Busy;
  DynStrSeq Attachments;
  DynStr UserText;     // the text as set (converted in Japanese mode)
  DynStr UserHeaders;  // the caller's extra header lines, as given
  CMIME Mime;

 private:
  FileMailerEvts* Sink() const { return static_cast<FileMailerEvts*>(EventSink); }
  int Send();
  int BuildMultipart(DynStr& headers, int charsetMode, char* tempName, bool& tempMade);
  // Releases what a send took, on every path: the temporary file, busy.
  void EndSend(const char* tempName, bool tempMade);
  bool InSend;  // a send is on the stack, also after it was interrupted
};
