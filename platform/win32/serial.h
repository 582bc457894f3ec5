// Serial communications: "\\.\COMn" opened with CreateFileA, set up with the Comm calls below,
// written with WriteFile and closed with CloseHandle. Each COMn names a device node by the
// mapping of ComDevicePath.
#pragma once
#include <string>
#include <vector>
#include "platform/win32/types.h"

// Line state. Bit fields in the order the calls' users expect; only the fields this layer maps
// to termios have an effect (see SetCommState).
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};

// Milliseconds. A write may take WriteTotalTimeoutMultiplier * bytes + WriteTotalTimeoutConstant;
// both 0 means no limit.
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};

inline constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

inline constexpr DWORD CBR_110 = 110;
inline constexpr DWORD CBR_300 = 300;
inline constexpr DWORD CBR_600 = 600;
inline constexpr DWORD CBR_1200 = 1200;
inline constexpr DWORD CBR_2400 = 2400;
inline constexpr DWORD CBR_4800 = 4800;
inline constexpr DWORD CBR_9600 = 9600;
inline constexpr DWORD CBR_19200 = 19200;
inline constexpr DWORD CBR_38400 = 38400;
inline constexpr DWORD CBR_57600 = 57600;
inline constexpr DWORD CBR_115200 = 115200;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;

inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;

inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction.
inline constexpr DWORD SETXOFF = 1;
inline constexpr DWORD SETXON = 2;
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;
inline constexpr DWORD SETBREAK = 8;
inline constexpr DWORD CLRBREAK = 9;

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL GetCommState(HANDLE file, DCB* dcb);
// Applies baud rate, byte size, parity, stop bits, CTS and XON/XOFF flow control and the DTR and
// RTS lines. Devices without modem lines (pseudo-terminals) accept the state all the same.
BOOL SetCommState(HANDLE file, DCB* dcb);
// FALSE with ERROR_INVALID_FUNCTION on a device without modem lines.
BOOL EscapeCommFunction(HANDLE file, DWORD function);

namespace win32 {

// The device node that COMn (1 <= n <= 256) opens:
//  1. the environment variable TAVLIN_COMn when it is set and not empty;
//  2. otherwise, from the serial devices in <sysfs>/class/tty: ttyS<k> is COM<k+1>; with S the
//     number of ttyS slots (highest index + 1), ttyUSB<k> is COM<S+1+k>; with U the number of
//     ttyUSB slots, ttyACM<k> is COM<S+U+1+k>. The node is /dev/<name>.
// Empty when n is out of range or nothing maps to it.
std::string ComDevicePath(int n);
// The default name of a tty device by rule 2 ("COM3" for "ttyS2"); empty when it has none.
std::string DefaultComName(const std::string& ttyName);

// Where sysfs is read ("/sys" by default). Tests point it at a tree of their own.
void SetSysfsRoot(const std::string& root);
std::string SysfsRoot();

}  // namespace win32

namespace win32::test {
// The next `count` SetCommState calls fail with ERROR_GEN_FAILURE: a real line rarely refuses
// a state, so tests make it.
void FailSetCommState(int count = 1);
}  // namespace win32::test

namespace win32::detail {
// A device of the "Ports" class: its node under /dev and the name it lists as ("COM3", "LPT1").
struct PortDevice {
  std::string node;
  std::string portName;
};
// Parallel ports (class printer, lp<k> is LPT<k+1>) in index order, then the serial devices of
// class tty in COM order. presentOnly drops ttyS slots without a UART (their type reads 0).
std::vector<PortDevice> ScanPortDevices(const std::string& root, bool presentOnly = false);
// Opens COMn for CreateFileA (exclusive: a second open fails with ERROR_ACCESS_DENIED).
HANDLE OpenComPort(int n, DWORD access);
}  // namespace win32::detail
