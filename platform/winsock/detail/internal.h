// Shared between the Winsock-side files of this module. Sees winsock.h, never the BSD headers.
#pragma once
#include <cstdint>

#include "platform/winsock/winsock.h"

namespace winsock::detail {

// The calling thread's last error (WSAGetLastError).
void SetError(int code);
int Error();
// Sets the last error and returns SOCKET_ERROR.
inline int Fail(int code) {
  SetError(code);
  return ws::SOCKET_ERROR;
}
// Whether WSAStartup has been called more often than WSACleanup.
bool Started();
// Closes every socket still open (the last WSACleanup does this).
void CloseAllSockets();

// SO_RCVBUF / SO_SNDBUF sizes between the Winsock caller and the kernel: the one place that
// decides what a Winsock buffer size means here.
int BufferSizeToKernel(int winsockBytes);
int BufferSizeFromKernel(int kernelBytes);

// Message-queue helpers for notifications posted to windows of the calling thread.
bool NotificationQueued(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void DropNotifications(HWND hwnd, UINT msg, WPARAM wParam);

}  // namespace winsock::detail
