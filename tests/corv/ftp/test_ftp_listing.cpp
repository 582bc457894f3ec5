// Listing lines, restart numbers and PASV numbers, without a server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/corv/ftp/ftp_sink.h"

namespace {

using ftptest::Engine;

// Parses one line the way the data connection hands it over: in a buffer with a byte after it.
ftptest::DirEntry Parse(Engine& e, const std::string& line, bool longForm, bool* raised = nullptr) {
  std::string buffer = line + "\rX";
  e.sink.dirs.clear();
  EXPECT_EQ(e.ftp.ParseDirEntry(buffer.data(), static_cast<std::uint32_t>(line.size()), longForm), 0);
  EXPECT_EQ(buffer[line.size()], '\r') << "the byte after the line is put back";
  if (raised) *raised = !e.sink.dirs.empty();
  if (e.sink.dirs.empty()) return {};
  EXPECT_EQ(e.sink.dirs.size(), 1u);
  EXPECT_EQ(e.sink.dirs[0].entry, line);
  return e.sink.dirs[0];
}

TEST(FTPListing, UnixLayouts) {
  Engine e;
  auto d = Parse(e, "-rw-r--r--   1 owner    group        1234 Jan 05  2023 my file.txt", true);
  EXPECT_EQ(d.name, "my file.txt");
  EXPECT_FALSE(d.dir);
  EXPECT_EQ(d.size, 1234);
  EXPECT_EQ(d.time, "Jan 05 2023");

  d = Parse(e, "-rw-r--r-- 1 owner 77 Mar  9 14:02 nogroup", true);
  EXPECT_EQ(d.size, 77);
  EXPECT_EQ(d.time, "Mar 9 14:02");
  EXPECT_EQ(d.name, "nogroup");

  d = Parse(e, "-rw-r--r-- 1 1000 1000 4096 Dec 31 23:59 numeric", true);
  EXPECT_EQ(d.size, 4096) << "the size comes from the column after a numeric group";
  EXPECT_EQ(d.time, "Dec 31 23:59");

  d = Parse(e, "drwxr-xr-x\t2 root root 0 Feb  1 10:00  sub dir", true);
  EXPECT_TRUE(d.dir);
  EXPECT_EQ(d.name, "sub dir");

  d = Parse(e, "lrwxrwxrwx 1 root root 7 Feb 1 10:00 link -> target", true);
  EXPECT_FALSE(d.dir);
  EXPECT_EQ(d.name, "link -> target");

  d = Parse(e, "Drwx------ 1 a b 5 Feb 1 10:00 upper", true);
  EXPECT_FALSE(d.dir) << "only a lower-case d marks a folder";

  d = Parse(e, "-rw-r--r-- 1 a b 3000000000 Feb 1 10:00 big", true);
  EXPECT_EQ(d.size, static_cast<std::int32_t>(3000000000u)) << "sizes wrap in 32 bits";
}

TEST(FTPListing, DosLayoutTotalsAndShortForm) {
  Engine e;
  auto d = Parse(e, "01-02-23  10:15AM       <DIR>          Program Files", true);
  EXPECT_TRUE(d.dir);
  EXPECT_EQ(d.size, 0);
  EXPECT_EQ(d.time, "01-02-23 10:15AM");
  EXPECT_EQ(d.name, "Program Files");

  d = Parse(e, "01-02-23  10:15PM                 1,234 a.txt", true);
  EXPECT_FALSE(d.dir);
  EXPECT_EQ(d.size, 1) << "the number stops at the comma";
  EXPECT_EQ(d.name, "a.txt");

  bool raised = true;
  Parse(e, "total 12", true, &raised);
  EXPECT_FALSE(raised);
  Parse(e, "TOTAL 12", true, &raised);
  EXPECT_FALSE(raised);
  d = Parse(e, "total 12", false, &raised);
  EXPECT_TRUE(raised);
  EXPECT_EQ(d.name, "total 12");
  EXPECT_EQ(d.time, "");

  d = Parse(e, "", true, &raised);
  EXPECT_TRUE(raised);
  EXPECT_EQ(d.name, "");
  EXPECT_EQ(d.size, 0);
  EXPECT_EQ(d.time, "  ");

  d = Parse(e, "name with  blanks ", false);
  EXPECT_EQ(d.name, "name with  blanks ");
}

TEST(FTPListing, Numbers) {
  EXPECT_EQ(StrToInt64("-12"), -12);
  EXPECT_EQ(StrToInt64("12ab"), 12);
  EXPECT_EQ(StrToInt64(""), 0);
  EXPECT_EQ(StrToInt64("x1"), 0);
  EXPECT_EQ(StrToInt64("4294967297"), 1);
  EXPECT_TRUE(IsNumeric("0123"));
  EXPECT_FALSE(IsNumeric(""));
  EXPECT_FALSE(IsNumeric("12a"));

  DynStr s;
  const char* text = "  \tone two";
  const char* p = NextToken(text, s);
  EXPECT_STREQ(s.Text(), "one");
  p = NextToken(p, s);
  EXPECT_STREQ(s.Text(), "onetwo") << "a token is appended, not replaced";
  EXPECT_EQ(*p, '\0');

  const char* c = "10,0,0,5,4,1)";
  WORD n[6];
  for (WORD& v : n) v = ReadNumber(&c);
  EXPECT_EQ((std::vector<int>{n[0], n[1], n[2], n[3], n[4], n[5]}), (std::vector<int>{10, 0, 0, 5, 4, 1}));
  c = "10, 0, 0, 5, 4, 1)";
  for (WORD& v : n) v = ReadNumber(&c);
  EXPECT_EQ((std::vector<int>{n[0], n[1], n[2], n[3], n[4], n[5]}), (std::vector<int>{10, 0, 0, 0, 0, 0}));
  // A reply cut short never moves the cursor past its end.
  const char* shortText = "1,2";
  c = shortText;
  for (WORD& v : n) v = ReadNumber(&c);
  EXPECT_EQ(c, shortText + 3);
  EXPECT_EQ(n[5], 0);
}

TEST(FTPEngine, FieldsAndRulesWithoutConnection) {
  Engine e;
  EXPECT_EQ(e.ftp.RemotePort, 21);
  std::string longName(300, 'n');
  e.ftp.SetLocalFile(longName.c_str());
  EXPECT_EQ(std::strlen(e.ftp.LocalFile), 256u);
  e.ftp.SetRemoteFile("r");
  e.ftp.SetAltFile(nullptr);
  EXPECT_STREQ(e.ftp.AltFile, "");

  EXPECT_EQ(e.ftp.SetRemotePath("/some where"), 0);
  EXPECT_STREQ(e.ftp.GetRemotePath(), "") << "without a connection the path reads empty";
  EXPECT_EQ(e.ftp.SetTransferMode(tmBinary), 0);
  EXPECT_EQ(e.ftp.TransferMode, tmBinary);

  e.ftp.CurrentAction = ftpDownload;
  EXPECT_EQ(e.ftp.DoAction(ftpUpload), FTP_BUSY);
  EXPECT_STREQ(e.Error().c_str(), "Busy performing current action.");
  EXPECT_EQ(e.ftp.SetRemotePath("x"), FTP_BUSY);
  EXPECT_EQ(e.ftp.SetTransferMode(tmASCII), FTP_BUSY);
  EXPECT_EQ(e.ftp.TransferMode, tmBinary);
  e.ftp.CurrentAction = 0;
}

}  // namespace
