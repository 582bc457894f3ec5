// The FTP engine against a hostile server: greeting, logon, multi-line replies, 227, 257 and
// the transfer replies, with listings and file data on the data connection (connection 1:
// the one the engine opens after PASV, or the one the peer opens after PORT).
// Flags: bit 0 passive; bits 1-3 LIST, NLST, RETR, STOR, PWD, RNFR/RNTO, CWD, RETR to a file
// in binary mode; bit 4 logs in with a user and a password; bit 5 logs off afterwards.
#include <cstdio>
#include <string>

#include "corv/ftp/FTP.h"
#include "fuzz/harness/ftp_sink.h"
#include "fuzz/harness/peer.h"
#include "fuzz/harness/temp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string upload = fuzzpeer::TempFile("ftp-up", "IBM,81.50\r\nMSFT,27.10\r\n");
  fuzzpeer::Session peer(data, size);
  const std::uint8_t f = peer.Flags();
  const std::string download = fuzzpeer::TempPath("ftp-down");
  {
    fuzzpeer::FtpSink sink;
    CFTP ftp;
    if (!ftp.Init()) return 0;
    ftp.UseWinsock(true);
    ftp.EventSink = static_cast<FTPEvts*>(&sink);
    ftp.SetRemoteHost("ftp.invalid");
    ftp.SetTimeout(fuzzpeer::kTimeoutSeconds);
    ftp.Passive = f & 1;
    if (f & 0x10) {
      ftp.User.SetText("anonymous");
      ftp.Password.SetText("guest@x.invalid");
    }
    ftp.SetRemoteFile("quotes.csv");
    switch ((f >> 1) & 7) {
      case 0: ftp.DoAction(9); break;
      case 1: ftp.DoAction(8); break;
      case 2: ftp.DoAction(4); break;
      case 3:
        ftp.SetLocalFile(upload.c_str());
        ftp.DoAction(5);
        break;
      case 4:
        if (ftp.DoAction(2) == 0) fuzzpeer::Touch(ftp.GetRemotePath());
        break;
      case 5:
        ftp.SetAltFile("old-quotes.csv");
        ftp.DoAction(7);
        break;
      case 6:
        if (ftp.DoAction(2) == 0) ftp.SetRemotePath("/pub/quotes");
        break;
      case 7:
        ftp.TransferMode = 2;
        ftp.SetLocalFile(download.c_str());
        ftp.DoAction(4);
        break;
    }
    if (f & 0x20) ftp.DoAction(3);
    fuzzpeer::Touch(ftp.GetErrorText());
  }
  std::remove(download.c_str());
  return 0;
}
