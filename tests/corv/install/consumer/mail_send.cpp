// mail_send.cpp: send a file by mail.  mail_send SERVER PORT USER PASSWORD TO FILE
#include <cstdio>
#include <cstdlib>

#include "corv/mail/Corvfilemailer.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: mail_send SERVER PORT USER PASSWORD TO FILE\n");
    return 2;
  }
  try {
    TcorvFileMailer mail(nullptr);
    mail.Timeout = 20;
    mail.MailServer = argv[1];
    mail.MailPort = static_cast<unsigned short>(std::atoi(argv[2]));
    // AUTH LOGIN, when both are set: the mailer takes them through WinsockPath.
    mail.WinsockPath = AnsiString("*User=") + argv[3];
    mail.WinsockPath = AnsiString("*Password=") + argv[4];
    mail.From = "reports@example.invalid";
    mail.SendTo = argv[5];
    mail.Subject = "The report";
    mail.MessageText = "The report is attached.";
    mail.AddAttachment(argv[6]);
    mail.Send();
  } catch (Exception& e) {
    std::fprintf(stderr, "mail_send: %s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
