// ftp_fetch.cpp: list a folder, fetch a file.  ftp_fetch HOST PORT USER PASSWORD REMOTE LOCAL
#include <cstdio>
#include <cstdlib>

#include "corv/ftp/Corvftp.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: ftp_fetch HOST PORT USER PASSWORD REMOTE LOCAL\n");
    return 2;
  }
  try {
    TcorvFTP ftp(nullptr);
    ftp.Timeout = 20;
    ftp.RemoteHost = argv[1];
    ftp.RemotePort = static_cast<unsigned short>(std::atoi(argv[2]));
    ftp.User = argv[3];
    ftp.Password = argv[4];
    ftp.Passive = true;           // it starts in active mode, where the server connects back
    ftp.TransferMode = tmBinary;  // the bytes as they are; tmASCII converts line ends
    ftp.OnDirList = [](TObject*, AnsiString&, AnsiString& name, bool isDir, long size, AnsiString&) {
      std::printf("%s%s %ld\n", name.c_str(), isDir ? "/" : "", size);
    };
    ftp.Logon();
    ftp.ListDirectoryLong();  // LIST, parsed; ListDirectory gives names only
    ftp.RemoteFile = argv[5];
    ftp.LocalFile = argv[6];
    ftp.Download();
    ftp.Logoff();
  } catch (Exception& e) {
    std::fprintf(stderr, "ftp_fetch: %s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
