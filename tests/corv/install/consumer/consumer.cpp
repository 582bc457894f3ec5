// consumer WEBPORT FTPPORT FTPUSER FTPPASSWORD SMTPPORT FOLDER: each component once against
// the servers on 127.0.0.1, with the BSD socket headers in the same file. Writes get.txt,
// form.txt, list.txt and ftp.csv into FOLDER.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "corv/ftp/Corvftp.h"
#include "corv/http/Corvhttp.h"
#include "corv/http/Corvwebform.h"
#include "corv/mail/Corvfilemailer.h"

namespace {

void Write(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

unsigned short Port(const char* text) { return static_cast<unsigned short>(std::atoi(text)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: consumer WEBPORT FTPPORT FTPUSER FTPPASSWORD SMTPPORT FOLDER\n");
    return 2;
  }
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  char host[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &loopback, host, sizeof host);
  const std::string web = std::string("http://") + host + ":" + argv[1];
  const std::string folder = argv[6];
  try {
    TcorvHTTP http(nullptr);
    http.Timeout = 20;
    http.LocalFile = (folder + "/get.txt").c_str();
    http.Get((web + "/small.txt").c_str());

    TcorvWebForm form(nullptr);
    form.Timeout = 20;
    form.AddFormVar("s", "ABC DEF");
    form.SubmitTo((web + "/echo").c_str());
    Write(folder + "/form.txt", form.TransferredData().str());

    TcorvFileMailer mail(nullptr);
    mail.Timeout = 20;
    mail.MailServer = host;
    mail.MailPort = Port(argv[5]);
    mail.From = "consumer@tavlin.invalid";
    mail.SendTo = "reader@tavlin.invalid";
    mail.Subject = "Quotes";
    mail.MessageText = "The page is attached.";
    mail.AddAttachment((folder + "/get.txt").c_str());
    mail.Send();

    TcorvFTP ftp(nullptr);
    ftp.Timeout = 20;
    ftp.RemoteHost = host;
    ftp.RemotePort = Port(argv[2]);
    ftp.User = argv[3];
    ftp.Password = argv[4];
    ftp.Passive = true;
    ftp.TransferMode = tmBinary;
    std::string names;
    ftp.OnDirList = [&](TObject*, AnsiString&, AnsiString& name, bool, long, AnsiString&) {
      names += name.str() + "\n";
    };
    ftp.Logon();
    ftp.ListDirectory();
    ftp.RemoteFile = "quotes.csv";
    ftp.LocalFile = (folder + "/ftp.csv").c_str();
    ftp.Download();
    ftp.Logoff();
    Write(folder + "/list.txt", names);
  } catch (Exception& e) {
    std::fprintf(stderr, "consumer: %s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
