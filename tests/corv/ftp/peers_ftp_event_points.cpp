// Every event point of every FTP action, with every kind of handler intervention, against
// vsftpd and pyftpdlib in both data connection modes. Each action runs once to record its
// points (trail lines, StartTransfer, Transfer at its first, middle and last count,
// EndTransfer, Error, DirList); then, per point, it runs again on a fresh folder and
// component with a handler that at that point interrupts, aborts, throws, or starts another
// action. Afterwards, on the same component: the engine is idle, no local file is left open,
// a LocalFile that held data is unchanged unless the transfer began (then a prefix), a plain
// download gives the exact bytes, the folder is the one it was in, a plain upload leaves the
// exact bytes on disk, and the listing matches the disk. Every call runs with Timeout 0
// under a watchdog, and a stop must return within kStopBound.
//
// One test per server, mode, action and intervention, so ctest runs them side by side.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corv/ftp/Corvftp.h"
#include "platform/win32/user.h"
#include "tests/peers/ftp.h"
#include "tests/peers/process.h"

namespace {

using Clock = std::chrono::steady_clock;
using peers::ReadFileBytes;
using peers::WriteFileBytes;

constexpr double kStopBound = 5.0;   // seconds from an intervention to the action's return
constexpr double kCallBound = 10.0;  // seconds for any whole call
constexpr std::size_t kData = 200 * 1000 + 13, kUp = 150 * 1000 + 7, kStart = 70000;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }
std::string Secs(double s) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f s", s);
  return b;
}

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 7;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);  // every byte value, CR and LF included
  }
  return s;
}

// ---- servers ----

enum class Srv { Vsftpd, Pyftpdlib };
struct Server {
  int port;
  std::string home, root, user, password;
};

Server& Start(Srv which) {
  static std::unique_ptr<peers::Vsftpd> vs;
  static std::unique_ptr<peers::Pyftpdlib> py;
  static Server s[2];
  if (which == Srv::Vsftpd && !vs) {
    vs = std::make_unique<peers::Vsftpd>();
    s[0] = {vs->port(), vs->home(), vs->root(), "anonymous", ""};
  }
  if (which == Srv::Pyftpdlib && !py) {
    py = std::make_unique<peers::Pyftpdlib>();
    s[1] = {py->port(), py->home(), py->root(), peers::Pyftpdlib::kUser, peers::Pyftpdlib::kPassword};
  }
  return s[which == Srv::Vsftpd ? 0 : 1];
}

// ---- actions and interventions ----

// In the order of the table below.
// clang-format off
enum class Act { Download, Resume, Upload, ResumeUpload, Append, List, ListLong, Rename, Delete, MakeDir, RemoveDir,
                 Refused, Logon };
// clang-format on
// What each action runs on: RemoteFile in its folder; LocalFile 'k' a file of the user's that
// a download writes, 'u' the upload's source; resume: StartByte kStart.
const struct {
  const char* name;
  TcorvFTPActions run;  // set as Action, which runs it as its method does
  const char* remote;
  char local;
  bool resume;
} kActs[] = {
    {"download", ftpDownload, "data.bin", 'k', false},
    {"resume", ftpDownload, "data.bin", 'k', true},
    {"upload", ftpUpload, "up.bin", 'u', false},
    {"resumeupload", ftpUpload, "part.bin", 'u', true},
    {"append", ftpAppend, "app.bin", 'u', false},
    {"list", ftpListDirectory, "", 0, false},
    {"listlong", ftpListDirectoryLong, "", 0, false},
    {"rename", ftpRenameFile, "old.txt", 0, false},  // to AltFile new.txt
    {"delete", ftpDeleteFile, "gone.txt", 0, false},
    {"mkdir", ftpMakeDirectory, "made", 0, false},
    {"rmdir", ftpRemoveDirectory, "emptydir", 0, false},
    {"refused", ftpDownload, "missing.bin", 'k', false},
    {"logon", ftpLogon, "", 0, false},
};
const char* Name(Act a) { return kActs[static_cast<int>(a)].name; }
enum class Step { None, Interrupt, Abort, Throw, Nested };
const char* Name(Step s) {
  static const char* n[] = {"none", "interrupt", "abort", "throw", "another"};
  return n[static_cast<int>(s)];
}
struct Stop {};

// One event as the handlers saw it; key + ordinal names a point across runs.
struct Event {
  std::string key, text;
  long bytes = 0;
};
struct Point {
  std::string key;
  int ordinal = 0;     // the n-th event of that key
  long threshold = 0;  // Transfer: the first one at or past this count
  std::string label;
};

std::string KeyOf(int code, const std::string& text) {
  if (code == 0) return "trail0 " + text.substr(0, text.find(' '));
  // 125 or 150 is the server's choice (whether the data connection stood already): one point.
  if (code == 1) return "trail1 " + (text[0] == '1' ? std::string("1xx") : text.substr(0, 3));
  return "trail" + std::to_string(code) + " " + text;
}

// ---- watchdog: every call is bounded; a hang is interrupted, then reported ----

struct Watch {
  TcorvFTP* f = nullptr;
  Clock::time_point limit;
  bool tripped = false;
};
Watch watch;
// Never destroyed: the watchdog thread waits on them until the process ends.
std::mutex& hardMu = *new std::mutex;
std::condition_variable& hardCv = *new std::condition_variable;
Clock::time_point hardLimit{};  // none while no call runs
std::string hardWhat;

void Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (!watch.f || Clock::now() < watch.limit) return;
  watch.tripped = true;
  try {
    watch.f->Interrupt();
  } catch (...) {
  }
}

void StartWatchdogs() {
  static bool started = false;
  if (started) return;
  started = true;
  SetTimer(nullptr, 0, 50, Tick);
  // The last resort: a call that even repeated interrupts cannot end.
  std::thread([] {
    std::unique_lock<std::mutex> lock(hardMu);
    for (;;) {
      if (hardLimit == Clock::time_point{}) {
        hardCv.wait(lock);
      } else if (hardCv.wait_until(lock, hardLimit) == std::cv_status::timeout && hardLimit != Clock::time_point{} &&
                 Clock::now() >= hardLimit) {
        std::fprintf(stderr, "HUNG for good, interrupts do not end it: %s\n", hardWhat.c_str());
        std::_Exit(3);
      }
    }
  }).detach();
}

// The outcome of one component call.
struct Outcome {
  int code = 0;  // ECORVCore code, 0 success, -1 the handler's Stop, -2 anything else
  std::string text;
  double seconds = 0;
  Clock::time_point end;
  bool tripped = false;
  std::string Str() const {
    if (code == -1) return "the handler's exception";
    if (code == 0) return "success";
    return text;
  }
};

template <class F>
Outcome Call(TcorvFTP& f, double bound, const std::string& what, F&& op) {
  Outcome o;
  watch = {&f, Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bound)), false};
  {
    const std::lock_guard<std::mutex> lock(hardMu);
    hardWhat = what;
    hardLimit = Clock::now() + std::chrono::seconds(60);
  }
  hardCv.notify_one();
  const auto t0 = Clock::now();
  try {
    op();
  } catch (const ECORVCore& e) {
    o.code = e.Code;
    o.text = e.Message.str();
  } catch (const Stop&) {
    o.code = -1;
  } catch (const std::exception& e) {
    o.code = -2;
    o.text = std::string("exception ") + e.what();
  } catch (...) {
    o.code = -2;
    o.text = "unknown exception";
  }
  o.end = Clock::now();
  o.seconds = Since(t0);
  o.tripped = watch.tripped;
  watch = {};
  {
    const std::lock_guard<std::mutex> lock(hardMu);
    hardLimit = {};
  }
  hardCv.notify_one();
  return o;
}

// ---- one run ----

class EventPoints : public ::testing::TestWithParam<std::tuple<Srv, bool, Act, Step>> {
 protected:
  void SetUp() override {
    try {
      server = &Start(std::get<0>(GetParam()));
    } catch (const peers::PeerError& e) {
      FAIL() << e.what();
    }
    StartWatchdogs();
    passive = std::get<1>(GetParam());
    act = std::get<2>(GetParam());
    data = Pattern(kData, 1);
    up = Pattern(kUp, 2);
    check = Pattern(30000, 3);
    WriteFileBytes(local.File("check-up.bin"), check);
  }

  std::string Path(const std::string& name) const { return (server->home == "/" ? "" : server->home) + "/" + name; }
  std::string Disk(const std::string& name) const { return server->root + "/" + name; }

  struct Run {
    Step step = Step::None;
    const Point* at = nullptr;
    std::string folder, keep, source;  // remote folder name; local files
    std::unique_ptr<TcorvFTP> f;
    std::vector<Event> events;
    bool armed = false, fired = false, began = false;
    Clock::time_point firedAt;
    double abortSeconds = 0;
    std::string nested;
    std::string keepBefore;
    std::vector<std::string> problems;
    std::string desc;
    void Problem(const std::string& tag, const std::string& detail) { problems.push_back(tag + ": " + detail); }
  };

  void Intervene(Run& r) {
    r.fired = true;
    r.firedAt = Clock::now();
    // From here the action must stop within the stop bound.
    if (r.step != Step::Nested)
      watch.limit = std::min(watch.limit, r.firedAt + std::chrono::seconds(static_cast<int>(kStopBound)));
    switch (r.step) {
      case Step::Interrupt:
        try {
          r.f->Interrupt();
        } catch (const ECORVCore&) {
        }
        break;
      case Step::Abort: {
        const auto t = Clock::now();
        try {
          r.f->Abort();
        } catch (const ECORVCore&) {
        }
        r.abortSeconds = Since(t);
        break;
      }
      case Step::Throw:
        throw Stop{};
      case Step::Nested:
        try {
          r.f->Download();
          r.nested = "accepted";
        } catch (const ECORVCore& e) {
          r.nested = e.Message.str();
        }
        break;
      case Step::None:
        break;
    }
  }

  void Seen(Run& r, const std::string& key, const std::string& text, long bytes = 0) {
    if (!r.armed) return;
    r.events.push_back({key, text, bytes});
    if (key == "transfer" || key == "trail1 1xx") r.began = true;
    if (r.fired || !r.at || key != r.at->key) return;
    if (key == "transfer" ? bytes < r.at->threshold
                          : std::count_if(r.events.begin(), r.events.end(),
                                          [&](const Event& e) { return e.key == key; }) != r.at->ordinal)
      return;
    Intervene(r);
  }

  void Attach(Run& r) {
    TcorvFTP& f = *r.f;
    f.OnPITrail = [this, &r](TObject*, int code, AnsiString& d) { Seen(r, KeyOf(code, d.str()), d.str()); };
    f.OnError = [this, &r](TObject*, int code, AnsiString& d) { Seen(r, "error " + std::to_string(code), d.str()); };
    f.OnStartTransfer = [this, &r](TObject*) { Seen(r, "start", "StartTransfer"); };
    f.OnEndTransfer = [this, &r](TObject*) { Seen(r, "end", "EndTransfer"); };
    f.OnTransfer = [this, &r](TObject*, long bytes, char*, unsigned short) { Seen(r, "transfer", "Transfer", bytes); };
    f.OnDirList = [this, &r](TObject*, AnsiString&, AnsiString& name, bool isDir, long size, AnsiString&) {
      Seen(r, "dirlist", name.str() + (isDir ? "/" : ":" + std::to_string(size)));
    };
  }

  // A folder of its own on the server, and a component that (except for the logon) is logged
  // on and in it, with the action's properties set.
  void Prepare(Run& r, int n) {
    r.folder = std::string(Name(act)) + (passive ? "-passive-" : "-active-") + Name(std::get<3>(GetParam())) + "-" +
               std::to_string(n);
    const std::string dir = Disk(r.folder);
    std::filesystem::create_directory(dir);
    chmod(dir.c_str(), 0777);
    std::filesystem::create_directory(dir + "/emptydir");
    chmod((dir + "/emptydir").c_str(), 0777);
    const auto put = [&](const std::string& name, const std::string& bytes) {
      WriteFileBytes(dir + "/" + name, bytes);
      chmod((dir + "/" + name).c_str(), 0666);
    };
    put("data.bin", data);
    put("part.bin", up.substr(0, kStart));
    put("app.bin", "base\n" + std::string(995, 'b'));
    put("old.txt", "renamed");
    put("gone.txt", "deleted");
    put("check.bin", check);

    r.keep = local.File("keep-" + std::to_string(n) + ".bin");
    r.source = local.File("up-" + std::to_string(n) + ".bin");
    WriteFileBytes(r.keep, act == Act::Resume ? data.substr(0, kStart) : Pattern(5000, 4 + n));
    WriteFileBytes(r.source, up);
    r.keepBefore = ReadFileBytes(r.keep);

    r.f = std::make_unique<TcorvFTP>(nullptr);
    TcorvFTP& f = *r.f;
    f.Timeout = 0;
    f.RemoteHost = "127.0.0.1";
    f.RemotePort = static_cast<unsigned short>(server->port);
    f.Passive = passive;
    f.TransferMode = tmBinary;
    f.User = server->user.c_str();
    f.Password = server->password.c_str();
    Attach(r);
    if (act != Act::Logon) {
      const Outcome o = Call(f, kCallBound, r.desc + " (set-up)", [&] {
        f.Logon();
        f.RemotePath = Path(r.folder).c_str();
      });
      if (o.code != 0) r.Problem("set-up", o.Str());
    }
    const auto& a = kActs[static_cast<int>(act)];
    f.RemoteFile = a.remote;
    f.LocalFile = (a.local == 'k' ? r.keep : a.local == 'u' ? r.source : std::string()).c_str();
    f.StartByte = a.resume ? std::to_string(kStart).c_str() : "";
    f.AltFile = "new.txt";
  }

  // The folder as the disk has it: "name/" or "name:size", sorted.
  std::vector<std::string> DiskListing(const std::string& folder, bool sizes) const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(Disk(folder)))
      out.push_back(e.path().filename().string() + (e.is_directory() ? "/"
                                                    : sizes          ? ":" + std::to_string(e.file_size())
                                                                     : ""));
    std::sort(out.begin(), out.end());
    return out;
  }

  // Whether the action's effect is all there (for a run that reports success).
  std::string Incomplete(Run& r, const std::vector<std::string>& listedBefore) const {
    const std::string dir = Disk(r.folder) + "/";
    std::vector<std::string> listed;
    for (const auto& e : r.events)
      if (e.key == "dirlist") listed.push_back(act == Act::List ? e.text.substr(0, e.text.find_last_of("/:")) : e.text);
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> want = listedBefore;
    if (act == Act::List)
      for (auto& w : want) w = w.substr(0, w.find_last_of("/:"));
    switch (act) {
      case Act::Download:
      case Act::Resume:
        return ReadFileBytes(r.keep) == data
                   ? ""
                   : "LocalFile holds " + std::to_string(ReadFileBytes(r.keep).size()) + " bytes, not the file";
      case Act::Upload:
      case Act::ResumeUpload:
        return ReadFileBytes(dir + (act == Act::Upload ? "up.bin" : "part.bin")) == up
                   ? ""
                   : "the server's file is not the upload";
      case Act::Append:
        return ReadFileBytes(dir + "app.bin") == "base\n" + std::string(995, 'b') + up
                   ? ""
                   : "the server's file is not base + upload";
      case Act::List:
      case Act::ListLong:
        return listed == want ? "" : "listed " + Join(listed) + ", the folder holds " + Join(want);
      case Act::Rename:
        return ReadFileBytes(dir + "new.txt") == "renamed" && !std::filesystem::exists(dir + "old.txt") ? ""
                                                                                                        : "not renamed";
      case Act::Delete:
        return !std::filesystem::exists(dir + "gone.txt") ? "" : "not deleted";
      case Act::MakeDir:
        return std::filesystem::is_directory(dir + "made") ? "" : "no folder made";
      case Act::RemoveDir:
        return !std::filesystem::exists(dir + "emptydir") ? "" : "folder still there";
      default:
        return "";
    }
  }

  static std::string Join(const std::vector<std::string>& v) {
    std::string s = "[";
    for (const auto& x : v) s += (s.size() > 1 ? " " : "") + x;
    return s + "]";
  }

  // One run of the action, with the intervention at the point (none for the recording);
  // returns the outcome and fills r.problems.
  Outcome Go(Run& r, int n, int baseline) {
    r.desc = std::string(std::get<0>(GetParam()) == Srv::Vsftpd ? "vsftpd" : "pyftpdlib") + " " +
             (passive ? "passive " : "active ") + Name(act) + ", " + Name(r.step) +
             (r.at ? " at " + r.at->label : std::string(" (recording)"));
    Prepare(r, n);
    TcorvFTP& f = *r.f;
    const std::vector<std::string> before = DiskListing(r.folder, act == Act::ListLong);
    r.armed = true;
    const Outcome o = Call(f, kCallBound, r.desc, [&] { f.Action = kActs[static_cast<int>(act)].run; });
    r.armed = false;
    f.OnPITrail = nullptr;
    f.OnError = nullptr;
    f.OnStartTransfer = nullptr;
    f.OnEndTransfer = nullptr;
    f.OnTransfer = nullptr;
    std::vector<std::string> names;
    f.OnDirList = [&names](TObject*, AnsiString&, AnsiString& name, bool isDir, long size, AnsiString&) {
      names.push_back(name.str() + (isDir ? "/" : ":" + std::to_string(size)));
    };

    // How it ended.
    // Some points come only with some timings (a data connection that opens before a refusal,
    // or not): a run that did not meet its point is held to the plain action's outcome.
    const Step step = r.fired ? r.step : Step::None;
    if (o.tripped)
      r.Problem("hang", "no return within " + Secs(r.fired ? kStopBound : kCallBound) +
                            "; ended by the watchdog's interrupt with " + o.Str());
    else if (r.fired && r.step != Step::Nested) {
      const double stop = std::chrono::duration<double>(o.end - r.firedAt).count();
      if (stop > kStopBound) r.Problem("slow stop", "returned " + Secs(stop) + " after the intervention");
    }
    if (r.abortSeconds > kStopBound) r.Problem("slow abort", "Abort returned after " + Secs(r.abortSeconds));
    const std::string missing = o.code == 0 ? Incomplete(r, before) : "";
    switch (step) {
      case Step::None:
      case Step::Nested:
        if (o.code != baseline)
          r.Problem("result", "ended with " + o.Str() + ", not " + (baseline ? "141" : "success"));
        if (step == Step::Nested && r.nested != "143: Busy performing current action.")
          r.Problem("nested action", "the action started from the handler gave \"" + r.nested + "\", not 143");
        break;
      case Step::Throw:
        if (o.code != -1) r.Problem("throw lost", "the action ended with " + o.Str() + ", not the handler's exception");
        break;
      case Step::Interrupt:
      case Step::Abort:
        if (o.code != 0 && o.code != 141 && o.code != 301) r.Problem("result", "ended with " + o.Str());
        if (o.code == 0 && baseline != 0) r.Problem("result", "success for a refused action");
        break;
    }
    if (o.code == 0 && !missing.empty()) r.Problem("success with a cut transfer", missing);
    if (f.Action() != ftpIdle) r.Problem("busy", "Action is " + std::to_string(f.Action()) + " afterwards");

    // Local files.
    const std::string keepNow = ReadFileBytes(r.keep);
    if (act == Act::Download || act == Act::Resume || act == Act::Refused) {
      const bool prefix = keepNow.size() <= data.size() && data.compare(0, keepNow.size(), keepNow) == 0 &&
                          (act != Act::Resume || keepNow.size() >= kStart);
      if (keepNow != r.keepBefore && !(r.began && prefix && act != Act::Refused))
        r.Problem("LocalFile",
                  std::string(r.began ? "neither kept nor a prefix" : "changed before the transfer began") + " (" +
                      std::to_string(r.keepBefore.size()) + " bytes before, " + std::to_string(keepNow.size()) +
                      " after)");
    } else if (keepNow != r.keepBefore) {
      r.Problem("LocalFile", "a file the action does not write changed");
    }
    if (ReadFileBytes(r.source) != up) r.Problem("LocalFile", "the upload's source changed");
    const std::string open = peers::OpenFilesUnder(local.path());
    if (!open.empty()) r.Problem("open file", "still open after the action returned: " + open);

    // The same component goes on: a download, its folder, an upload, a listing.
    f.StartByte = "";
    f.AltFile = "";
    const std::string expectFolder = act == Act::Logon ? "/" : Path(r.folder);  // the login folder
    const std::string got = local.File("check-" + std::to_string(n) + ".bin");
    std::vector<std::string> trail;
    f.OnPITrail = [&trail](TObject*, int code, AnsiString& d) {
      trail.push_back(std::to_string(code) + " " + d.str());
    };
    // One follow-up call; its failure or hang is shown with the call's last trail lines.
    const auto call = [&](const char* what, const std::function<void()>& op) {
      trail.clear();
      const Outcome c = Call(f, kStopBound, r.desc + " (" + what + ")", op);
      if (c.code == 0 && !c.tripped) return true;
      std::string t;
      for (std::size_t i = trail.size() > 8 ? trail.size() - 8 : 0; i < trail.size(); ++i) t += " | " + trail[i];
      r.Problem(what,
                (c.tripped ? "no return within " + Secs(kStopBound) + ", then ended by the watchdog's interrupt with "
                           : std::string()) +
                    c.Str() + "; trail" + t);
      return false;
    };
    const auto download = [&] {
      f.RemoteFile = (Path(r.folder) + "/check.bin").c_str();
      f.LocalFile = got.c_str();
      if (!call("next download", [&] { f.Download(); })) return false;
      const std::string bytes = ReadFileBytes(got);
      if (bytes == check) return true;
      const bool tail =
          bytes.size() < check.size() && check.compare(check.size() - bytes.size(), bytes.size(), bytes) == 0;
      r.Problem("next download",
                std::to_string(bytes.size()) + " bytes, not the 30000 of the file" + (tail ? " (its tail)" : ""));
      return false;
    };
    const auto upload = [&] {
      f.RemoteFile = (Path(r.folder) + "/put.bin").c_str();
      f.LocalFile = local.File("check-up.bin").c_str();
      if (!call("next upload", [&] { f.Upload(); })) return false;
      const std::string bytes = ReadFileBytes(Disk(r.folder) + "/put.bin");
      if (bytes == check) return true;
      r.Problem("next upload", "the server holds " + std::to_string(bytes.size()) + " bytes, not the 30000 sent");
      return false;
    };
    const auto folder = [&] {
      std::string pwd;
      if (!call("folder", [&] { pwd = f.RemotePath().str(); })) return false;
      if (pwd == expectFolder) return true;
      r.Problem("folder", "RemotePath is \"" + pwd + "\", not \"" + expectFolder + "\"");
      return false;
    };
    // Alternate which goes first, so a restart offset left behind shows in either.
    const bool downloadFirst = n % 2 == 0;
    bool ok = downloadFirst ? download() : upload();
    ok = ok && folder();
    ok = ok && (downloadFirst ? upload() : download());
    f.RemoteFile = Path(r.folder).c_str();
    if (ok && call("next listing", [&] { f.ListDirectoryLong(); })) {
      std::sort(names.begin(), names.end());
      const std::vector<std::string> want = DiskListing(r.folder, true);
      if (names != want) r.Problem("next listing", "listed " + Join(names) + ", the folder holds " + Join(want));
    }
    r.f.reset();
    return o;
  }

  Server* server = nullptr;
  bool passive = false;
  Act act = Act::Download;
  std::string data, up, check;
  peers::TempDir local{"tavlin-ftp-points"};
};

// The points of a recorded run: every event, Transfer only at its first, middle and last count.
std::vector<Point> PointsOf(const std::vector<Event>& events) {
  std::vector<Point> points;
  std::vector<long> counts;
  for (const auto& e : events) {
    if (e.key == "transfer") {
      counts.push_back(e.bytes);
      continue;
    }
    const int ordinal = 1 + static_cast<int>(std::count_if(points.begin(), points.end(),
                                                           [&](const Point& p) { return p.key == e.key; }));
    points.push_back(
        {e.key, ordinal, 0, "\"" + e.text.substr(0, 60) + "\"" + (ordinal > 1 ? " #" + std::to_string(ordinal) : "")});
  }
  if (!counts.empty()) {
    const long picks[] = {counts.front(), counts[counts.size() / 2], counts.back()};
    const char* names[] = {"first", "middle", "last"};
    for (int i = 0; i < 3; ++i) {
      if (i > 0 && picks[i] == picks[i - 1]) continue;
      points.push_back({"transfer", 0, picks[i],
                        std::string("the ") + names[i] + " Transfer (" + std::to_string(picks[i]) + " bytes)"});
    }
  }
  return points;
}

TEST_P(EventPoints, Run) {
  const Step step = std::get<3>(GetParam());
  const auto t0 = Clock::now();
  Run rec;
  const int baseline = act == Act::Refused ? 141 : 0;
  Go(rec, 0, baseline);
  ASSERT_TRUE(rec.problems.empty()) << rec.desc << ":\n  " << Join(rec.problems);
  const std::vector<Point> points = PointsOf(rec.events);
  ASSERT_FALSE(points.empty());
  int failed = 0, n = 0, unmet = 0;
  for (const Point& p : points) {
    Run r;
    r.step = step;
    r.at = &p;
    Go(r, ++n, baseline);
    unmet += !r.fired;
    if (r.problems.empty()) continue;
    ++failed;
    std::string what;
    for (const auto& pr : r.problems) what += "\n  " + pr;
    ADD_FAILURE() << r.desc << what;
  }
  std::printf("[ points ] %d runs, %d failed, %d points not met, %.1f s\n", n, failed, unmet, Since(t0));
}

std::string CaseName(const ::testing::TestParamInfo<EventPoints::ParamType>& i) {
  return std::string(std::get<0>(i.param) == Srv::Vsftpd ? "vsftpd" : "pyftpdlib") + "_" +
         (std::get<1>(i.param) ? "passive" : "active") + "_" + Name(std::get<2>(i.param)) + "_" +
         Name(std::get<3>(i.param));
}

INSTANTIATE_TEST_SUITE_P(Ftp, EventPoints,
                         ::testing::Combine(::testing::Values(Srv::Vsftpd, Srv::Pyftpdlib), ::testing::Bool(),
                                            ::testing::Values(Act::Download, Act::Resume, Act::Upload,
                                                              Act::ResumeUpload, Act::Append, Act::List, Act::ListLong,
                                                              Act::Rename, Act::Delete, Act::MakeDir, Act::RemoveDir,
                                                              Act::Refused, Act::Logon),
                                            ::testing::Values(Step::Interrupt, Step::Abort, Step::Throw, Step::Nested)),
                         CaseName);

}  // namespace
