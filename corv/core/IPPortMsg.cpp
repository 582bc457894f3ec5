#include "corv/core/IPPortMsg.h"

#include "platform/win32/file.h"

CIPPortMsg::CIPPortMsg()
    : WaitingForLine(false),
      StopAtLine(true),
      ConnectCode(0),
      DisconnectCode(0),
      TransferFile(INVALID_HANDLE_VALUE) {}

CIPPortMsg::~CIPPortMsg() {
  Interrupt();
  Reply.Clear();
  ProxyText.Clear();
  CloseTransferFile();
}

bool CIPPortMsg::Init() {
  Reply.Clear();
  WaitingForLine = false;
  DisconnectCode = 0;
  ConnectCode = 0;
  StopAtLine = true;
  return CAsyncIPPort::Init();
}

void CIPPortMsg::Interrupt() {
  InterruptRequest = true;
  Interrupted = false;
  // A wait sleeps until a message comes: this one wakes it, also when the request came from
  // somewhere that posts nothing itself (a GUI event handled inside the host's wait).
  if (Window) PostMessageA(Window, WM_NULL, 0, 0);
}

int CIPPortMsg::ConnectAndWait() {
  if (Firewall.IsConnected()) return 0;
  ClearErrorText();
  if (TakeInterruptRequest()) return CORV_INTERRUPTED;
  Reply.Set(0u);
  ConnectCode = 0;
  SetAcceptData(false);
  int r = Connect(true);
  if (r) return r;
  // Called by a handler inside a delivery, the wait reads for itself: a proxy's answer would
  // otherwise wait for the pass further up the stack, which waits for this handler.
  OwnWait own(*this);
  for (;;) {
    // A handler that dropped the attempt leaves nothing that could report it.
    if (Socket == ws::INVALID_SOCKET) return CORV_INTERRUPTED;
    if (!DoEvents(PassMs(), Window)) {
      // Closing clears the error text; the reason the wait stopped must survive it.
      const char* why = ErrorText;
      Connect(false);
      ErrorText = why;
      return CORV_INTERRUPTED;
    }
    if (Firewall.IsConnected() || ConnectCode != 0) {
      SetAcceptData(true);
      // The proxy's own words say more than the code's generic text.
      // A copy: the firewall's text changes with its next negotiation.
      if (ConnectCode == CORV_FIREWALL_FAILED && !Firewall.FailureText.IsEmpty() &&
          ProxyText.SetText(Firewall.FailureText.Text()) == 0)
        ErrorText = ProxyText.Text();
      return ConnectCode;
    }
  }
}

int CIPPortMsg::WaitForDisconnect() {
  if (!Firewall.IsConnected()) return 0;
  ClearErrorText();
  if (TakeInterruptRequest()) return CORV_INTERRUPTED;
  DisconnectCode = 0;
  // Bytes a stopped pass left held are announced by nothing else, and the close comes only
  // after them.
  if (AcceptData) SetAcceptData(true);
  OwnWait own(*this);
  // Each condition is checked before the pass sleeps: what has happened posts nothing more.
  for (;;) {
    if (!Firewall.IsConnected()) return DisconnectCode;
    if (DisconnectCode != 0) return DisconnectCode;
    if (!DoEvents(PassMs(), Window)) return CORV_INTERRUPTED;
  }
}

int CIPPortMsg::SendAndWait(const char* data, std::int32_t length, bool progress) {
  if (length <= 0) return 0;
  // A request made between two waits of the action (by a handler) stops it before more is sent.
  if (TakeInterruptRequest()) return CORV_INTERRUPTED;
  const std::int32_t total = length;
  for (;;) {
    int r = Send(data, static_cast<DWORD>(length), 0, true);
    if (r == 0) return 0;
    if (r != ws::WSAEWOULDBLOCK) return r;
    data += BytesSent;
    length -= BytesSent;
    if (!DoEvents(PassMs(), Window)) return CORV_INTERRUPTED;
    if (progress) {
      int p = SendProgress(static_cast<WORD>(total - length));
      if (p) return p;
    }
  }
}

int CIPPortMsg::SendLineAndWait(const char* verb, const char* argument, const char* terminator) {
  ClearErrorText();
  WaitingForLine = true;
  Reply.Set(0u);
  SetAcceptData(false);
  if (verb && *verb) {
    DynStr line;
    int r = line.Append(verb);
    if (!r && argument && *argument) {
      r = line.Append(" ");
      if (!r) r = line.Append(argument);
    }
    if (!r && terminator && *terminator) r = line.Append(terminator);
    if (!r) r = SendAndWait(line.Text(), static_cast<std::int32_t>(line.Length()), true);
    if (r) {
      WaitingForLine = false;
      SetAcceptData(true);
      return r;
    }
  }
  return WaitForLine();
}

int CIPPortMsg::WaitForLine() {
  if (TakeInterruptRequest()) return CORV_INTERRUPTED;
  Reply.Set(0u);
  WaitingForLine = true;
  // Announces a line already held, or held back in the receive buffer after the socket was
  // drained: the socket itself reports only bytes it still has.
  SetAcceptData(true);
  OwnWait own(*this);
  // Each condition is checked before the pass sleeps: what has happened posts nothing more.
  for (;;) {
    if (!WaitingForLine) return 0;
    if (!Firewall.IsConnected()) return CORV_INTERRUPTED;
    if (!DoEvents(PassMs(), Window)) return CORV_INTERRUPTED;
    if (!WaitingForLine) return 0;
    int r = OnReplyWait();
    if (r) return r;
  }
}

int CIPPortMsg::OnConnected(WORD code) {
  ConnectCode = code;
  return CInternalIPPort::OnConnected(code);
}

int CIPPortMsg::OnDisconnected(WORD code) {
  DisconnectCode = code;
  CloseTransferFile();
  return CInternalIPPort::OnDisconnected(code);
}

int CIPPortMsg::OnDataIn(const char* data, WORD length, bool eol) {
  if (data && length) {
    if (Reply.Append(data, length) != 0) FireError(CORV_OUT_OF_MEMORY, "Out of memory in DataIn [IPPMsg].");
  }
  if (eol) {
    WaitingForLine = false;
    if (StopAtLine) SetAcceptData(false);
  }
  return 0;
}

int CIPPortMsg::SendProgress(WORD) { return 0; }
int CIPPortMsg::OnReplyWait() { return 0; }

int CIPPortMsg::CloseTransferFile() {
  if (TransferFile != INVALID_HANDLE_VALUE) {
    CloseHandle(TransferFile);
    TransferFile = INVALID_HANDLE_VALUE;
  }
  return 0;
}

CIPPortMsgPlusFile::~CIPPortMsgPlusFile() { Interrupt(); }

int CIPPortMsgPlusFile::SendProgress(WORD bytes) { return ProgressRelay ? OnSendProgress(bytes) : 0; }
int CIPPortMsgPlusFile::OnSendProgress(WORD) { return 0; }
