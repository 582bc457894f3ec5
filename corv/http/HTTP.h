// The HTTP/1.0 client engine. One request is one connection: connect (directly or to an HTTP
// proxy), send the request line, the headers and an optional body, read the response until
// the server closes, then judge the status line, following redirects when asked. Events go
// to the HTTPEvts sink in EventSink (set it as static_cast<HTTPEvts*>(thunk)).
#pragma once
#include <cstdint>

#include "corv/core/IPPortMsg.h"
#include "corv/core/LocalFile.h"
#include "corv/http/HTTPEvts.h"
#include "corv/http/HTTPRequest.h"
#include "corv/http/HTTPResponse.h"

// Result codes and texts of the engine.
inline constexpr int HTTP_BUSY = 143;
inline constexpr int HTTP_STATUS_FAILED = 151;
inline constexpr int HTTP_NO_SERVER = 152;
inline constexpr int HTTP_BAD_SCHEME = 153;
inline constexpr int HTTP_FILE_FAILED = 302;
inline constexpr int HTTP_FILE_READ_FAILED = 6;
inline constexpr int HTTP_FILE_WRITE_FAILED = 7;

class CHTTP : public CIPPortMsgPlusFile, public CHTTPRequest {
 public:
  // Redirects followed in a row before the action gives up with 151.
  static constexpr std::uint32_t kMaxRedirects = 10;
  static constexpr std::uint32_t kFileChunk = 16384;
  // Receive buffer of the engine; body blocks are at most this long.
  static constexpr std::uint32_t kReceiveBuffer = 2048;

  CHTTP();
  ~CHTTP() override;

  // Sets the defaults, then the message port's initialisation; non-zero on success.
  int Init();
  // 0 interrupt, 1 GET, 2 POST, 3 HEAD, 4 reset, 5 PUT.
  int DoAction(int action);
  int Reset();
  // Also the firewall's credentials, cut to 255 characters.
  int SetProxyUser(const char* text);
  int SetProxyPassword(const char* text);

  int SendRequestHeaders(const char* verb);
  int RequestNoBody(const char* verb);
  int RequestWithBody(const char* verb);
  int SendHeaderLine(const char* name, const char* value);
  // Sends exactly size bytes of the file; a file that ends sooner fails with 6.
  int SendFile(const char* path, std::uint32_t size);
  int CheckStatus(int code);

  int OnDisconnected(WORD code) override;
  int FireConnected(WORD code, const char* text) override;
  int OnDataIn(const char* data, WORD length, bool eol) override;
  int FireDisconnected(WORD code, const char* text) override;
  int FireError(WORD code, const char* text) override;
  int OnSendProgress(WORD bytes) override;

  virtual int FireEndTransfer(std::uint16_t direction);
  virtual int FireHeader(const char* field, const char* value);
  virtual int FireSetCookie(const char* name, const char* value, const char* expires,
                            const char* domain, const char* path, int secure);
  virtual int FireStartTransfer(std::uint16_t direction);
  virtual int FireTransfer(std::uint16_t direction, std::uint32_t bytes, const char* text,
                           std::uint16_t length);

  std::uint8_t Action;  // running action; 0 = idle
  std::uint8_t ParseState;
  std::uint32_t BodyBytes;
  DynStr TransferredHeaders;
  DynStr TransferredData;
  std::uint32_t MaxTransferredData;
  DynStr HeaderLine;
  std::uint8_t FollowRedirects;
  DynStr Location;
  DynStr StatusLine;
  DynStr LocalFile;
  CLocalFile LocalFileHandle;

 private:
  HTTPEvts* Sink() const { return static_cast<HTTPEvts*>(EventSink); }
  // Restarts the time-out and forgets the last response's status, location and error.
  void ResetResponseState();
  int RunAction(int action);
  int FinishResponse(int code);
  int StatusLineIn(const char* data, WORD length, bool eol);
  int HeaderLineIn(const char* data, WORD length, bool eol);
  bool WholeLine(const char* data, WORD length, bool eol, char** line, std::uint32_t* n);
  int BodyBlock(const char* data, std::uint32_t n);
  void SwitchToBlocks();
  // Writes what is gathered for LocalFile; a failure is reported. False then.
  bool FlushLocalFile();
  void LocalFileWriteFailed();
  // Remembers why the response failed although its status may be fine.
  void SetResponseError(int code, const char* text);
  // Leaves the engine idle and disconnected after an exception from a handler.
  void Recover();

  bool InAction;                // an action call is on the stack
  std::uint32_t RedirectDepth;  // redirects followed in a row
  int ResponseError;
  const char* ResponseErrorText;
  bool LocalFileFailed;
  HTTPLineAssembler Lines;
  DynStr StatusText;  // error text of a failed status
};
