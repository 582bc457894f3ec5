// The FTP component's actions and transfer modes, which are the engine's own values.
#pragma once
#include <cstdint>

enum TcorvFTPActions : std::uint8_t {
  ftpIdle = 0,
  ftpAbort = 1,
  ftpLogon = 2,
  ftpLogoff = 3,
  ftpDownload = 4,
  ftpUpload = 5,
  ftpDeleteFile = 6,
  ftpRenameFile = 7,
  ftpListDirectory = 8,
  ftpListDirectoryLong = 9,
  ftpMakeDirectory = 10,
  ftpRemoveDirectory = 11,
  ftpAppend = 12,
  ftpStoreUnique = 13,
};

enum TcorvFTPTransferModes : std::uint8_t { tmDefault = 0, tmASCII = 1, tmBinary = 2 };
