// The web form engine: a list of named variables submitted to URL as a URL-encoded POST body,
// as a multipart/form-data POST body, or as a query string on a GET. Events go to the
// WebFormEvts sink in EventSink (set it as static_cast<WebFormEvts*>(thunk)).
#pragma once
#include <cstdint>

#include "corv/core/DynStrSeq.h"
#include "corv/http/HTTP.h"
#include "corv/http/WebFormEvts.h"
#include "corv/mime/MIME.h"

// Values of Encoding.
enum WebFormEncoding : std::uint8_t {
  kWebFormURLEncoded = 0,
  kWebFormMultipart = 1,
  kWebFormQueryString = 2,
};

// Values of DoAction; any other non-zero value submits.
enum WebFormAction : int {
  kWebFormIdle = 0,
  kWebFormSubmit = 1,
  kWebFormReset = 2,
};

inline constexpr int WEBFORM_BUSY = 143;
inline constexpr int WEBFORM_BAD_PART = 280;

class CWebForm : public CHTTP {
 public:
  CWebForm();
  ~CWebForm() override;

  // Use in place of CHTTP::Init: readies the MIME engine, runs the HTTP engine's
  // initialisation, then selects URL encoding. Non-zero on success.
  int Init();

  // Stores the encoding and sets ContentType for 0, 1 and 2; other values leave it alone.
  int SetEncoding(int encoding);
  // 0 interrupts, 2 empties the variables and resets the HTTP request, anything else submits.
  virtual int DoAction(int action);
  // The reset action.
  int Reset();
  // Appends a name and its value. 0, or 200 with both lists as they were.
  int AddFormVar(const char* name, const char* value);

  int FireConnected(WORD code, const char* text) override;
  int FireDisconnected(WORD code, const char* text) override;
  int FireError(WORD code, const char* text) override;
  int FireHeader(const char* field, const char* value) override;
  int FireSetCookie(const char* name, const char* value, const char* expires, const char* domain,
                    const char* path, int secure) override;
  // The HTTP engine's directed transfer events: only direction 1 (the response) passes.
  int FireEndTransfer(std::uint16_t direction) override { return OnHTTPEndTransfer(direction); }
  int FireStartTransfer(std::uint16_t direction) override { return OnHTTPStartTransfer(direction); }
  int FireTransfer(std::uint16_t direction, std::uint32_t bytes, const char* text,
                   std::uint16_t length) override {
    return OnHTTPTransfer(direction, bytes, text, length);
  }
  int OnHTTPEndTransfer(std::uint16_t direction);
  int OnHTTPStartTransfer(std::uint16_t direction);
  int OnHTTPTransfer(std::uint16_t direction, std::uint32_t bytes, const char* text,
                     std::uint16_t length);

  virtual int FireEndTransfer();
  virtual int FireStartTransfer();
  virtual int FireTransfer(std::uint32_t bytes, const char* text, std::uint16_t length);

  std::uint8_t Busy;      // the web-form action running (1 submit); 0 = idle
  std::uint8_t Encoding;  // a WebFormEncoding
  DynStrSeq FormVarNames;
  DynStrSeq FormVarValues;  // value i belongs to name i; a missing value reads as ""
  CMIME Mime;               // builds the multipart bodies

 private:
  WebFormEvts* Sink() const { return static_cast<WebFormEvts*>(EventSink); }
  int Submit(int action);
  // name=value pairs joined by "&", appended to out. 0 or 200.
  int AppendPairs(DynStr& out) const;
  int SubmitURLEncoded();
  int SubmitMultipart();
  int SubmitQueryString();
  // Takes over the MIME engine's result and error text.
  int MimeFailed(int code);

  bool InSubmit;  // a submit call is on the stack, even after an interrupt cleared Busy
};
