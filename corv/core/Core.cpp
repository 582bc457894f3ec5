#include "corv/core/Core.h"

#include "platform/win32/misc.h"

CCore::CCore() : ErrorText(nullptr), CharsetMode(0), ErrorBuffer{}, EventSink(nullptr), Window(nullptr) {}

int CCore::Init() {
  ErrorText = nullptr;
  CharsetMode = GetACP() == 932 ? 1 : 0;
  return 1;
}

int CCore::SetErrorText(int code) {
  switch (code) {
    case CORV_OK:
      break;
    case CORV_INTERRUPTED:
      ErrorText = "Interrupted.";
      break;
    case CORV_OUT_OF_MEMORY:
      ErrorText = "Out of memory.";
      break;
    default:
      if (!HasErrorText()) {
        FormatWinsockError(code, ErrorBuffer, sizeof ErrorBuffer);
        ErrorText = ErrorBuffer;
      }
      break;
  }
  return code;
}

void CCore::AfterAction() {}

LRESULT CCore::HandleMessage(UINT, WPARAM, LPARAM) { return 0; }
