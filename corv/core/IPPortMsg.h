// The blocking request/reply port of the protocol engines: connect and wait, send and wait,
// send a command line and wait for one reply line, wait for a line, wait for disconnection.
// Every wait pumps the thread's queue until its condition holds, it is interrupted, or the
// engine's time-out passes (then 301); a pass sleeps until a message or the deadline.
#pragma once
#include "corv/core/AsyncIPPort.h"

class CIPPortMsg : public CInternalIPPort {
 public:
  CIPPortMsg();
  ~CIPPortMsg() override;

  int OnConnected(WORD code) override;
  int OnDisconnected(WORD code) override;
  int OnDataIn(const char* data, WORD length, bool eol) override;
  virtual int SendProgress(WORD bytes);
  virtual int OnReplyWait();

  bool Init();
  void Interrupt();
  int ConnectAndWait();
  int WaitForDisconnect();
  int SendAndWait(const char* data, std::int32_t length, bool progress);
  int SendLineAndWait(const char* verb, const char* argument, const char* terminator);
  int WaitForLine();
  int CloseTransferFile();

  bool WaitingForLine;
  bool StopAtLine;
  std::int32_t ConnectCode;
  std::int32_t DisconnectCode;
  HANDLE TransferFile;
  DynStr Reply;
  DynStr ProxyText;  // the error text of a failed negotiation: what the proxy said
};

// Adds a switchable relay of send progress, for engines that report a body's progress.
class CIPPortMsgPlusFile : public CIPPortMsg {
 public:
  CIPPortMsgPlusFile() : ProgressRelay(false) {}
  ~CIPPortMsgPlusFile() override;

  int SendProgress(WORD bytes) override;
  virtual int OnSendProgress(WORD bytes);

  bool ProgressRelay;
};
