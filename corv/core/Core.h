// Root of every protocol engine: the error text, the character-set mode, the event sink and
// the hidden window. Engines derive from it through CWsock.
#pragma once
#include "corv/core/Errors.h"
#include "platform/win32/types.h"

class CCore {
 public:
  CCore();
  virtual ~CCore() = default;
  CCore(const CCore&) = delete;
  CCore& operator=(const CCore&) = delete;

  // Clears the error text and takes CharsetMode from the ANSI code page (932 gives 1).
  // Returns 1.
  int Init();

  // Returns code. 0 leaves the text alone; 301 sets "Interrupted."; 200 sets
  // "Out of memory."; any other code fills the own buffer with its Windows Sockets text,
  // but only while there is no text yet.
  int SetErrorText(int code);

  // The error text; "" when there is none.
  const char* GetErrorText() const { return ErrorText ? ErrorText : ""; }
  bool HasErrorText() const { return ErrorText && ErrorText[0]; }
  void ClearErrorText() { ErrorText = nullptr; }
  // `text` must outlive the object: a literal, or the own buffer.
  void SetFixedErrorText(const char* text) { ErrorText = text; }

  virtual void AfterAction();
  // The message number counts as unsigned 16-bit. The root handles nothing and returns 0.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  const char* ErrorText;  // null, a fixed text, or ErrorBuffer
  int CharsetMode;        // 1 under the Shift-JIS code page
  char ErrorBuffer[CORV_ERROR_TEXT_SIZE];
  void* EventSink;  // the component's thunk; each engine casts it to its events interface
  HWND Window;      // hidden notification window, or null
};
