#include <cstdio>
#include <cstring>

#include "corv/core/Alloc.h"
#include "corv/ftp/FTP.h"
#include "platform/win32/file.h"

// ---- listening

CListeningSocket::CListeningSocket() : ListenSocket(ws::INVALID_SOCKET), ListenPort(0) {}

CListeningSocket::~CListeningSocket() { CloseListener(); }

int CListeningSocket::CloseListener() {
  if (ListenSocket != ws::INVALID_SOCKET) {
    WinsockProcs.closesocket(ListenSocket);
    ListenSocket = ws::INVALID_SOCKET;
  }
  return 0;
}

int CListeningSocket::Listen(WORD port) {
  CloseListener();
  ws::SOCKET s = WinsockProcs.socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
  if (s == ws::INVALID_SOCKET) return WinsockProcs.WSAGetLastError();
  ListenSocket = s;
  std::int32_t one = 1;
  WinsockProcs.setsockopt(s, ws::SOL_SOCKET, ws::SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  ws::sockaddr_in local{};
  local.sin_family = ws::AF_INET;
  local.sin_addr.s_addr = ws::INADDR_ANY;
  local.sin_port = WinsockProcs.htons(port);
  bool ok = WinsockProcs.bind(s, reinterpret_cast<const ws::sockaddr*>(&local), sizeof local) == 0;
  if (ok) {
    ListenPort = port;
    if (port == 0) {
      ws::sockaddr_in bound{};
      int len = sizeof bound;
      ok = WinsockProcs.getsockname(s, reinterpret_cast<ws::sockaddr*>(&bound), &len) == 0;
      if (ok) ListenPort = WinsockProcs.ntohs(bound.sin_port);
    }
  }
  if (ok) ok = WinsockProcs.listen(s, 1) == 0;
  if (ok) ok = WinsockProcs.WSAAsyncSelect(s, Window, WM_CORV_SOCKET, ws::FD_ACCEPT) == 0;
  if (!ok) {
    int code = WinsockProcs.WSAGetLastError();
    CloseListener();
    return code;
  }
  return 0;
}

bool CListeningSocket::ConnectionWaiting() {
  if (ListenSocket == ws::INVALID_SOCKET) return false;
  ws::fd_set set{};
  ws::FdSetAdd(ListenSocket, &set);
  const ws::timeval now{};
  return WinsockProcs.select(0, &set, nullptr, nullptr, &now) > 0;
}

WORD CListeningSocket::GetListenPort() {
  if (ListenSocket == ws::INVALID_SOCKET) return 0;
  ws::sockaddr_in bound{};
  int len = sizeof bound;
  if (WinsockProcs.getsockname(ListenSocket, reinterpret_cast<ws::sockaddr*>(&bound), &len) != 0) return 0;
  return WinsockProcs.ntohs(bound.sin_port);
}

int CListeningSocket::FormatPortArgument(char* buffer, ws::SOCKET control) {
  WORD port = GetListenPort();
  if (port == 0) {
    int code = WinsockProcs.WSAGetLastError();
    return code ? code : ws::WSAENOTSOCK;
  }
  ws::sockaddr_in local{};
  int len = sizeof local;
  if (WinsockProcs.getsockname(control, reinterpret_cast<ws::sockaddr*>(&local), &len) != 0)
    return WinsockProcs.WSAGetLastError();
  const auto* a = reinterpret_cast<const unsigned char*>(&local.sin_addr.s_addr);
  std::snprintf(buffer, 24, "%d,%d,%d,%d,%d,%d", a[0], a[1], a[2], a[3], port >> 8, port & 0xFF);
  return 0;
}

LRESULT CListeningSocket::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message & 0xFFFF) == WM_CORV_SOCKET) {
    auto s = static_cast<ws::SOCKET>(wParam);
    if (Socket != ws::INVALID_SOCKET && s == Socket) return CAsyncIPPort::HandleMessage(message, wParam, lParam);
    if (ListenSocket != ws::INVALID_SOCKET && s == ListenSocket &&
        ws::WSAGETSELECTEVENT(lParam) == ws::FD_ACCEPT) {
      if (Socket != ws::INVALID_SOCKET) Connect(false);
      if (Socket != ws::INVALID_SOCKET) {
        // A read pass on the stack put that close off: carried out now, before the handle goes.
        CAsyncIPPort::OwnWait settle(*this);
      }
      ws::SOCKET accepted = WinsockProcs.accept(ListenSocket, nullptr, nullptr);
      CloseListener();
      if (accepted == ws::INVALID_SOCKET) {
        FireError(FTP_ACCEPT_FAILED, "Failed to accept new socket.");
        return 0;
      }
      Socket = accepted;
      Connected = true;
      AcceptData = true;
      EmptyReceiveBuffer();
      if (WinsockProcs.WSAAsyncSelect(accepted, Window, WM_CORV_SOCKET,
                                      ws::FD_READ | ws::FD_WRITE | ws::FD_CLOSE) != 0)
        FireError(FTP_SELECT_FAILED, "Error calling WSAAsyncSelect on new socket.");
      FireConnected(0, "OK");
      return 0;
    }
  }
  return Window ? DefWindowProcA(Window, message & 0xFFFF, wParam, lParam) : 0;
}

// ---- data connection

CDataInterface::CDataInterface()
    : Owner(nullptr),
      Offset(0),
      Kind(0),
      Chunk(nullptr),
      ChunkLength(0),
      ChunkSent(0),
      UploadSize(0),
      OpenPending(false),
      Accepted(false),
      FileError(0),
      FileErrorText(nullptr) {}

CDataInterface::~CDataInterface() {
  CloseLocalFile();
  CloseListener();
  CloseSocket();
  // The window belongs to the engine.
  if (Owner && Window == Owner->Window) Window = nullptr;
}

void CDataInterface::CloseLocalFile() {
  LocalFileHandle.Close();
  // The upload's chunk goes back with its file.
  CorvFree(Chunk);
  Chunk = nullptr;
  ChunkLength = ChunkSent = 0;
}

void CDataInterface::FlushLocalFile() {
  if (LocalFileHandle.Flush()) return;
  LocalFileFailed(FTP_FILE_WRITE_FAILED, "Error writing to local file.");
}

void CDataInterface::LocalFileFailed(WORD code, const char* text) {
  if (!FileError) {
    FileError = code;
    FileErrorText = text;
  }
  FireError(code, text);
}

bool CDataInterface::StopRequested() const { return Owner->InterruptRequest; }

void CDataInterface::Stop() {
  SetAcceptData(false);
  OpenPending = false;
  Accepted = false;
  Connect(false);
  CloseListener();
  CloseLocalFile();
}

int CDataInterface::SetMode(std::uint8_t kind) {
  Kind = kind;
  OpenPending = false;
  Accepted = false;
  FileError = 0;
  FileErrorText = nullptr;
  Partial.Set(0u);
  if (kind >= kDataToEvents && kind <= kDataToFile) {
    Fifo.SetEOL("\r\n");
    return SetEOL(nullptr, 0);
  }
  if (kind == kDataNameList || kind == kDataLongList) return SetEOL("\r\n", 2);
  return 0;
}

int CDataInterface::FireConnected(WORD, const char*) {
  Offset = static_cast<std::int32_t>(StrToInt64(Owner->Act.StartByte.Text()));
  int error = 0;
  if (Kind == kDataUpload) {
    SetOutBufferSize(kSocketBuffer);
    CloseLocalFile();
    const bool open =
        LocalFileHandle.Open(Owner->Act.LocalFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (Offset != 0) {
      if (!open || SetFilePointer(LocalFileHandle.Handle(), Offset, nullptr, FILE_CURRENT) == INVALID_SET_FILE_POINTER)
        error = 8;
    } else if (!open) {
      error = 3;
    }
    UploadSize = open ? GetFileSize(LocalFileHandle.Handle(), nullptr) : 0;
  } else if (Kind == kDataToFile) {
    SetInBufferSize(kSocketBuffer);
    CloseLocalFile();
    OpenPending = true;
    if (Accepted) OpenDownloadFile();
  }
  if (error) FireError(static_cast<WORD>(error), "Error opening local file.");
  Owner->FireStartTransfer();
  return 0;
}

void CDataInterface::CommandAccepted() {
  Accepted = true;
  if (!OpenPending) return;
  OpenDownloadFile();
  // An empty file's connection may have closed before the go-ahead was read.
  if (!Connected) CloseLocalFile();
}

void CDataInterface::OpenDownloadFile() {
  OpenPending = false;
  int error = 0;
  if (Offset != 0) {
    if (!LocalFileHandle.Open(Owner->Act.LocalFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              OPEN_EXISTING))
      error = FTP_FILE_OPEN_FAILED;
    else if (SetFilePointer(LocalFileHandle.Handle(), Offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
      error = 8;
  } else if (!LocalFileHandle.Open(Owner->Act.LocalFile, GENERIC_WRITE, 0, CREATE_ALWAYS)) {
    error = FTP_FILE_OPEN_FAILED;
  }
  if (error) LocalFileFailed(static_cast<WORD>(error), "Error opening local file.");
}

int CDataInterface::OnDataIn(const char* data, WORD length, bool eol) {
  if (OpenPending) OpenDownloadFile();
  Offset += length;
  switch (Kind) {
    case kDataToEvents:
      Owner->FireTransfer(Offset, const_cast<char*>(data), length);
      break;
    case kDataToFile: {
      int error = 0;
      if (!LocalFileHandle.IsOpen()) {
        error = 5;
      } else if (!LocalFileHandle.Write(data, length)) {
        error = FTP_FILE_WRITE_FAILED;
      }
      if (error) LocalFileFailed(static_cast<WORD>(error), "Error writing to local file.");
      Owner->FireTransfer(Offset, nullptr, 0);
      break;
    }
    case kDataNameList:
    case kDataLongList:
      LineIn(data, length, eol);
      break;
    default:
      break;
  }
  return 0;
}

void CDataInterface::LineIn(const char* data, WORD length, bool eol) {
  // A line longer than the receive buffer arrives in pieces; it is parsed whole.
  if (!Partial.IsEmpty() || !eol) {
    if (Partial.Append(data, length) != 0) {
      FireError(CORV_OUT_OF_MEMORY, "Out of memory.");
      Partial.Set(0u);
      return;
    }
    if (!eol) return;
    Owner->ParseDirEntry(Partial.Text(), Partial.Length(), Kind == kDataLongList);
    Partial.Set(0u);
    return;
  }
  Owner->ParseDirEntry(const_cast<char*>(data), length, Kind == kDataLongList);
}

int CDataInterface::FireDisconnected(WORD, const char*) {
  // A last listing line without its line end still counts.
  if ((Kind == kDataNameList || Kind == kDataLongList) && !Partial.IsEmpty()) {
    Owner->ParseDirEntry(Partial.Text(), Partial.Length(), Kind == kDataLongList);
    Partial.Set(0u);
  }
  FlushLocalFile();
  CloseLocalFile();
  Owner->FireEndTransfer();
  return 0;
}

int CDataInterface::FireError(WORD code, const char* text) { return Owner->FireError(code, text); }

bool CDataInterface::Pumping() const {
  return Kind == kDataUpload && Accepted && Connected && LocalFileHandle.IsOpen();
}

int CDataInterface::SendFileChunk() {
  if (Kind != kDataUpload || !Accepted || !LocalFileHandle.IsOpen()) return 0;
  if (ChunkSent == ChunkLength) {
    if (UploadSize == static_cast<DWORD>(Offset)) {
      CloseLocalFile();
      Connect(false);
      return 0;
    }
    if (UploadSize == INVALID_FILE_SIZE || UploadSize < static_cast<DWORD>(Offset) || Offset < 0) {
      // Nothing can be read at the position: a start byte beyond the end of the file.
      CloseLocalFile();
      Owner->SetFixedErrorText("Error reading from local file.");
      return FTP_LOCAL_FILE;
    }
    if (!Chunk) Chunk = static_cast<char*>(CorvMalloc(kChunkSize));
    if (!Chunk) return Owner->SetErrorText(CORV_OUT_OF_MEMORY);
    DWORD n = UploadSize - static_cast<DWORD>(Offset);
    if (n > kChunkSize) n = kChunkSize;
    DWORD got = 0;
    if (!ReadFile(LocalFileHandle.Handle(), Chunk, n, &got, nullptr) || got != n) {
      CloseLocalFile();
      Owner->SetFixedErrorText("Error reading from local file.");
      return FTP_LOCAL_FILE;
    }
    ChunkLength = n;
    ChunkSent = 0;
  }
  // What the socket did not take stays in the chunk for the next call.
  const std::uint32_t rest = ChunkLength - ChunkSent;
  int r = Send(Chunk + ChunkSent, rest, 0, false);
  if (r == 0) {
    ChunkSent = ChunkLength;
    Offset += static_cast<std::int32_t>(rest);
    Owner->FireTransfer(Offset, nullptr, 0);
    return 0;
  }
  if (r != ws::WSAEWOULDBLOCK) return r;
  // Nothing went out: the same data is sent again once the socket reports room.
  if (BytesSent <= 0) return ws::WSAEWOULDBLOCK;
  ChunkSent += static_cast<std::uint32_t>(BytesSent);
  Offset += BytesSent;
  Owner->FireTransfer(Offset, nullptr, 0);
  return ws::WSAEWOULDBLOCK;
}
