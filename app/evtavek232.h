// The serial link to the LED display board: port listing, port set-up and framed writes.
// Frame: 0xAA, then stuffed (0xAA as 80 00, 0x80 as 80 01): the payload length (two bytes,
// high first), the payload and a checksum that makes length, payload and checksum add up to
// 0xFF. One port handle for the whole process; GUI thread only.
#pragma once
#include "platform/win32/win32.h"

#define EV_TAVEK_232_MAX_BUF_SIZE_POST 4096

// Largest payload SendFrame takes; its frame of at most 2055 bytes fits the buffer.
inline constexpr int EV_TAVEK_232_MAX_PAYLOAD = 1024;
// Longest port list EnumerateComPorts gives, and the size of each of its names.
inline constexpr int EV_TAVEK_232_MAX_PORTS = 50;
inline constexpr int EV_TAVEK_232_PORT_NAME_SIZE = 128;

// Opens the named port ("COM3") at 19200 baud, 8 data bits, no parity, one stop bit, closing a
// port that is still open first. False leaves no port open.
bool OpenPort(const char* name);
// Drops DTR, purges both directions and closes the port, if one is open. Always true.
bool ClosePort();
// Frames and writes nBytes (0..1024) of payload; 0 writes nothing and succeeds. True only when
// a port is open and the whole frame was written.
bool SendFrame(const unsigned char* data, int nBytes);
// The frame-building steps, in place on a buffer of EV_TAVEK_232_MAX_BUF_SIZE_POST bytes.
// nBytes must be 1..EV_TAVEK_232_MAX_BUF_SIZE_POST (asserted). False, with the buffer and
// nBytes untouched, when the result would not fit the buffer.
bool AddLengthAndChecksum(unsigned char* buffer, int* nBytes);
bool StuffBytes(unsigned char* buffer, int* nBytes);
// The COM ports present, each in its own EV_TAVEK_232_PORT_NAME_SIZE-byte string; nullptr and
// count 0 when there are none or listing failed. Free with FreePortList.
char** EnumerateComPorts(int* count);
// Writes the next COM port name of the device set into out (at least 25 bytes). False at the
// end of the list, at a device whose name cannot be read, or at a number outside 1..256.
bool NextComPort(HDEVINFO deviceSet, char* out);
void FreePortList(char** list, int count);
