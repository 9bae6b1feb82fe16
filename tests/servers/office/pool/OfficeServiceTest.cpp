// The shared office service as separate client processes see it: each
// `pressmark` process leases a warm office from the user's service, which
// starts on first use, replaces offices that hang, die or are left busy,
// restarts them after a number of documents, keeps other users out and
// leaves nothing behind when idle. Every test runs its own service in its
// own private folder.

// GCC 12 takes a member of std::regex's compiled states for uninitialised
// when the sanitizers instrument this file (a known false positive of its
// flow analysis); the warning says nothing about this code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <tuple>
#include <regex>
#include <thread>

#include "servers/office/OfficeLaunch.h"
#include "support/OfficeDocs.h"
#include "support/Processes.h"
#include "support/TestSupport.h"
#include "support/Zips.h"

extern char** environ;

namespace pm::test {

namespace {

#define REQUIRE_OFFICE() PM_REQUIRE_OR_SKIP(officeServed(), "the office server is not built (no LibreOffice SDK)")

std::string pipePathOf(const std::string& pipe) {
  return "/tmp/OSL_PIPE_" + std::to_string(::geteuid()) + "_" + pipe;
}

struct OfficeLine {
  int number = 0;
  pid_t pid = 0;
  bool leased = false;
  int conversions = 0;
  std::string pipe;  // where the office's connection is: /tmp/OSL_PIPE_<uid>_<pipe>
  std::string pipePath() const { return pipePathOf(pipe); }
};

// The members of a process group.
std::vector<pid_t> groupMembers(pid_t group) {
  return processesWhere([&](pid_t p) { return ::getpgid(p) == group; });
}
// The cross-user tests need the accounts nobody and daemon and the right to
// become them; CI must have them.
bool crossUserReady(std::string& why) {
  if (::geteuid() != 0)
    why = "not run as root (setpriv cannot change user)";
  else if (commandOutput("getent passwd nobody daemon | wc -l").find('2') != 0)
    why = "the accounts nobody and daemon are missing";
  else if (commandOutput("command -v setpriv").empty())
    why = "setpriv is missing";
  return why.empty();
}
#define REQUIRE_CROSS_USER() \
  std::string crossUserWhy_; \
  PM_REQUIRE_OR_SKIP(crossUserReady(crossUserWhy_), "cross-user test: " + crossUserWhy_)

class Service {
 public:
  explicit Service(std::vector<std::string> settings) {
    env_ = {"PRESSMARK_OFFICE_RUNTIME_DIR=" + folder.path(), "PRESSMARK_REGISTRY=" + registry.path()};
    env_.insert(env_.end(), settings.begin(), settings.end());
    writeFile(work.file("doc.rtf"), makeRtfPages(2));
  }
  ~Service() { runPressmark({"office", "stop"}, {}, env_); }

  const std::vector<std::string>& env() const { return env_; }

  // One conversion in a new client process.
  CommandResult convert(const std::string& name, const std::vector<std::string>& more = {}) {
    std::vector<std::string> env = env_;
    env.insert(env.end(), more.begin(), more.end());
    return runPressmark({"CreatePSfromWord", work.file(name + ".ps"), work.file("doc.rtf")}, {}, env);
  }

  std::vector<OfficeLine> offices() {
    CommandResult r = runPressmark({"office", "status"}, {}, env_);
    std::vector<OfficeLine> out;
    std::regex re(R"(office (\d+) pid (-?\d+) (leased|free) client \d+ conversions (\d+) memory-kb \d+ pipe (\S+))");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), re); it != std::sregex_iterator(); ++it)
      out.push_back({std::stoi((*it)[1]), static_cast<pid_t>(std::stol((*it)[2])), (*it)[3] == "leased",
                     std::stoi((*it)[4]), (*it)[5]});
    return out;
  }

  // Waits (a generous bound, not a measured time) until pred holds.
  template <class Pred>
  bool eventually(Pred pred, int seconds = 60) {
    for (int i = 0; i < seconds * 10; ++i) {
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return pred();
  }

  TempDir folder, registry, work;

 private:
  std::vector<std::string> env_;
};

// The processes whose command line names the folder (the supervisor and
// every office it started have it there).
std::vector<pid_t> processesUsing(const std::string& folder) {
  return processesWhere([&](pid_t p) { return cmdline(p).find(folder) != std::string::npos; });
}

// A pressmark process in the background, its output discarded; its input
// from stdinFd and its files made under mask when given.
pid_t spawnPressmark(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, int stdinFd = -1,
                     int mask = -1) {
  std::vector<std::string> all = {PRESSMARK_CLI}, envs;
  all.insert(all.end(), args.begin(), args.end());
  for (char** e = environ; *e; ++e) envs.emplace_back(*e);
  envs.insert(envs.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argv, envp;
  for (std::string& a : all) argv.push_back(a.data());
  for (std::string& e : envs) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {  // only calls that are safe after a fork
    if (stdinFd >= 0) ::dup2(stdinFd, 0);
    ::dup2(::open("/dev/null", O_WRONLY), 1);
    if (mask >= 0) ::umask(static_cast<mode_t>(mask));
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

int connectTo(const std::string& path, int flags = 0) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof(a.sun_path), "%s", path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 && !(flags & SOCK_NONBLOCK)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Connects to each Unix socket, as the user nobody when asked: a line
// "connected" or "refused" for each.
std::string connectEach(const std::vector<std::string>& sockets, bool asNobody) {
  std::string cmd = std::string(asNobody ? "setpriv --reuid=nobody --regid=nogroup --clear-groups -- " : "") +
                    "/usr/bin/python3 -c " +
                    shellQuote(
                        "import socket,sys\nfor p in sys.argv[1:]:\n  s=socket.socket(socket.AF_UNIX)\n  try:\n"
                        "    s.connect(p); print('connected', p)\n  except OSError as e:\n"
                        "    print('refused', p, e.errno)\n");
  for (const std::string& s : sockets) cmd += " " + shellQuote(s);
  return commandOutput(cmd);
}

TEST(OfficeService, TwoClientsAtOnceUseTwoOfficesOthersAreKeptOutAndTheIdleServiceLeavesNothing) {
  REQUIRE_OFFICE();
  Service svc({"PRESSMARK_OFFICE_POOL_SIZE=2", "PRESSMARK_OFFICE_POOL_IDLE=5"});
  CommandResult a, b;
  std::thread ta([&] { a = svc.convert("a"); });
  std::thread tb([&] { b = svc.convert("b"); });
  ta.join();
  tb.join();
  // A connection keeps the service from ending while it is looked at.
  int watcher = connectTo(svc.folder.file("office.sock"));
  ASSERT_GE(watcher, 0);
  ASSERT_EQ(a.exitCode, 0) << a.out << a.err;
  ASSERT_EQ(b.exitCode, 0) << b.out << b.err;
  EXPECT_EQ(pdfFacts(psToPdf(svc.work.file("a.ps"), svc.work.file("a.pdf"))).pages, 2);
  EXPECT_EQ(pdfFacts(psToPdf(svc.work.file("b.ps"), svc.work.file("b.pdf"))).pages, 2);
  std::vector<OfficeLine> offices = svc.offices();
  ASSERT_EQ(offices.size(), 2u) << "one office for each client at the same time";
  EXPECT_NE(offices[0].pid, offices[1].pid);
  for (const OfficeLine& o : offices) {
    EXPECT_EQ(o.conversions, 1);
    EXPECT_FALSE(o.leased) << "the clients gave their offices back when they ended";
  }

  // The folder is the user's alone, and so are the service's socket and
  // each office's pipe.
  EXPECT_EQ(modeOf(svc.folder.path()), S_IFDIR | 0700u);
  std::vector<std::string> sockets = {svc.folder.file("office.sock")};
  for (const OfficeLine& o : offices) sockets.push_back(o.pipePath());
  std::string mine = connectEach(sockets, false);
  EXPECT_EQ(std::count(mine.begin(), mine.end(), '\n'), static_cast<long>(sockets.size()));
  EXPECT_EQ(mine.find("refused"), std::string::npos) << "the owner connects: " << mine;
  std::string theirs = connectEach(sockets, true);
  EXPECT_EQ(std::count(theirs.begin(), theirs.end(), '\n'), static_cast<long>(sockets.size())) << theirs;
  EXPECT_EQ(theirs.find("connected"), std::string::npos) << theirs;

  // Idle: the service ends with its offices and removes what it made.
  ::close(watcher);
  EXPECT_TRUE(svc.eventually([&] { return processesUsing(svc.folder.path()).empty(); }))
      << "still running after the idle time";
  for (const OfficeLine& o : offices) {
    EXPECT_NE(::kill(o.pid, 0), 0) << o.pid;
    EXPECT_FALSE(std::filesystem::exists(o.pipePath())) << o.pipePath();
  }
  EXPECT_TRUE(std::filesystem::is_empty(svc.folder.path()));
}

TEST(OfficeService, OfficesAreRestartedAfterNDocumentsWhenLeftBusyByAKilledClientAndWhenHung) {
  REQUIRE_OFFICE();
  Service svc({"PRESSMARK_OFFICE_POOL_SIZE=1", "PRESSMARK_OFFICE_RESTART_AFTER=2"});
  ASSERT_EQ(svc.convert("one").exitCode, 0);
  std::vector<OfficeLine> first = svc.offices();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].conversions, 1);
  ASSERT_EQ(svc.convert("two").exitCode, 0);
  std::vector<OfficeLine> second = svc.offices();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second[0].pid, first[0].pid) << "restarted after its second document";
  EXPECT_EQ(second[0].conversions, 0);
  EXPECT_NE(::kill(first[0].pid, 0), 0);

  // A client killed while its office does not answer: the lease ends with
  // the client, the office it left busy is replaced, the next client works.
  pid_t office = second[0].pid;
  ::kill(-office, SIGSTOP);
  pid_t client = spawnPressmark({"CreatePSfromWord", svc.work.file("x.ps"), svc.work.file("doc.rtf")}, svc.env());
  ASSERT_GT(client, 0);
  EXPECT_TRUE(svc.eventually([&] {
    auto o = svc.offices();
    return !o.empty() && o[0].leased;
  }));
  ::kill(client, SIGKILL);
  int status = 0;
  ::waitpid(client, &status, 0);
  EXPECT_TRUE(svc.eventually([&] {
    auto o = svc.offices();
    return o.size() == 1 && o[0].pid != office && !o[0].leased;
  })) << "the busy office was not replaced";
  EXPECT_NE(::kill(office, 0), 0) << "the stopped office was ended";
  CommandResult next = svc.convert("next");
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_EQ(pdfFacts(psToPdf(svc.work.file("next.ps"), svc.work.file("next.pdf"))).pages, 2);

  // A hung office: the client's call time-out ends it and says so; the
  // service replaces it.
  std::vector<OfficeLine> now = svc.offices();
  ASSERT_EQ(now.size(), 1u);
  ::kill(-now[0].pid, SIGSTOP);
  CommandResult hung = svc.convert("hung", {"PRESSMARK_OFFICE_TIMEOUT=3"});
  ::kill(-now[0].pid, SIGCONT);
  EXPECT_EQ(hung.exitCode, 1);
  EXPECT_NE(hung.out.find("did not answer"), std::string::npos) << hung.out << hung.err;
  EXPECT_NE(::kill(now[0].pid, 0), 0) << "the hung office was ended";
  std::vector<OfficeLine> replaced = svc.offices();
  ASSERT_EQ(replaced.size(), 1u);
  EXPECT_NE(replaced[0].pid, now[0].pid);
  EXPECT_FALSE(replaced[0].leased);
}

// The pipes in /tmp whose name starts with prefix (after OSL_PIPE_<uid>_).
std::vector<std::string> pipesStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  std::string full = "OSL_PIPE_" + std::to_string(::geteuid()) + "_" + prefix;
  for (const auto& e : std::filesystem::directory_iterator("/tmp"))
    if (e.path().filename().string().compare(0, full.size(), full) == 0) out.push_back(e.path().string());
  return out;
}

TEST(OfficeService, PipesCannotBeGuessedAFloodDoesNotWedgeItAndItsOfficesDieWithIt) {
  REQUIRE_OFFICE();
  Service svc({"PRESSMARK_OFFICE_POOL_SIZE=1"});
  ASSERT_EQ(svc.convert("one").exitCode, 0);
  std::vector<OfficeLine> offices = svc.offices();
  ASSERT_EQ(offices.size(), 1u);
  // A name nobody can make first, a socket only its user may write to, and
  // an office that leaves machine-wide files readable for everybody though
  // the service itself runs under umask 077.
  EXPECT_TRUE(std::regex_match(offices[0].pipe, std::regex("pressmark_pool_[0-9]+_[0-9a-f]{32}"))) << offices[0].pipe;
  EXPECT_TRUE(S_ISSOCK(modeOf(offices[0].pipePath())));
  EXPECT_EQ(modeOf(offices[0].pipePath()) & 022, 0u);
  std::vector<pid_t> members = groupMembers(offices[0].pid);
  ASSERT_GE(members.size(), 2u);
  // (The keeper that ties the office to the service creates no files.)
  for (pid_t p : members)
    if (cmdline(p).find("soffice") != std::string::npos) {
      EXPECT_EQ(statusField(p, "Umask"), "0022") << cmdline(p);
    }

  // A client of the same user that floods the socket and never reads, and
  // more idle connections than the service keeps: it still answers.
  int flood = connectTo(svc.folder.file("office.sock"));
  ASSERT_GE(flood, 0);
  std::string many;
  for (int i = 0; i < 4000; ++i) many += "status\n";
  ::fcntl(flood, F_SETFL, O_NONBLOCK);
  (void)::send(flood, many.data(), many.size(), MSG_NOSIGNAL);
  std::vector<int> idle;
  for (int i = 0; i < 300; ++i) idle.push_back(connectTo(svc.folder.file("office.sock"), SOCK_NONBLOCK));
  EXPECT_EQ(svc.offices().size(), 1u) << "the status was not answered";
  ::close(flood);
  for (int fd : idle) ::close(fd);

  // The service killed: its offices go with it, and the next service removes
  // what it left. Only the supervisor is killed: the keepers that tie its
  // offices to it are its forks, with its command line (the supervisor is the
  // one whose parent is not one of them), and a keeper killed as well could
  // not take its office along.
  auto killSupervisor = [&] {
    std::vector<pid_t> serving;
    for (pid_t p : processesUsing(svc.folder.path()))
      if (cmdline(p).find(" office serve ") != std::string::npos) serving.push_back(p);
    for (pid_t p : serving)
      if (std::find(serving.begin(), serving.end(), std::stol(statusField(p, "PPid"))) == serving.end())
        return ::kill(p, SIGKILL) == 0;
    return false;
  };
  std::filesystem::create_directory(svc.folder.file("profile-99"));
  ASSERT_TRUE(killSupervisor());
  EXPECT_TRUE(svc.eventually([&] { return std::none_of(members.begin(), members.end(), running); }, 15))
      << "the offices outlived their service";
  ASSERT_EQ(svc.convert("two").exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(offices[0].pipePath())) << "the dead service's pipe was left";
  EXPECT_FALSE(std::filesystem::exists(svc.folder.file("profile-99")))
      << "the dead service's profile was left: " << commandOutput("ls -la " + shellQuote(svc.folder.path()));

  // Killed again and then only stopped, with no next start: stopping removes
  // what it left, and every office's own single-start pipe too.
  std::vector<OfficeLine> now = svc.offices();
  ASSERT_EQ(now.size(), 1u);
  std::string ipc = pm::office::officePipePath(
      pm::office::singleInstancePipe(svc.folder.file("profile-" + std::to_string(now[0].number)) + "/profile"));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(ipc))) << ipc;
  members = groupMembers(now[0].pid);
  ASSERT_GE(members.size(), 2u);
  ASSERT_TRUE(killSupervisor());
  EXPECT_TRUE(svc.eventually([&] { return std::none_of(members.begin(), members.end(), running); }, 15))
      << "the office outlived its service";
  runPressmark({"office", "stop"}, {}, svc.env());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(now[0].pipePath())));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ipc))) << "the single-start pipe was left";
  EXPECT_FALSE(std::filesystem::exists(svc.folder.file("profile-" + std::to_string(now[0].number))));
}

TEST(OfficeService, AnOfficeInsideTheClientIsPrivateUnderAnyUmaskInheritsNothingAndDiesWithIt) {
  REQUIRE_OFFICE();
  REQUIRE_CROSS_USER();
  TempDir work, registry;
  writeFile(work.file("doc.rtf"), makeRtfPages(1));
  std::filesystem::create_directory(work.file("tmp"));
  std::vector<std::string> env = {"PRESSMARK_OFFICE_POOL=0", "PRESSMARK_REGISTRY=" + registry.path(),
                                  "TMPDIR=" + work.file("tmp")};
  // A client that left a descriptor open by mistake, under umask 000, with
  // its office kept: a shell whose input stays open.
  int leaked = ::open(work.file("leaked").c_str(), O_CREAT | O_WRONLY, 0600);
  int in[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  pid_t client = spawnPressmark({"shell"}, env, in[0], 0);
  ::close(in[0]);
  ::close(leaked);
  ASSERT_GT(client, 0);
  std::string line = "CreatePSfromWord " + work.file("doc.ps") + " " + work.file("doc.rtf") + "\n";
  ASSERT_EQ(::write(in[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
  std::string prefix = "pressmark_office_" + std::to_string(client) + "_";
  Service waiter({});
  ASSERT_TRUE(waiter.eventually([&] {
    return std::filesystem::exists(work.file("doc.ps")) && pipesStartingWith(prefix).size() == 1;
  })) << "the client's office did not start";
  std::string pipe = pipesStartingWith(prefix)[0];
  EXPECT_TRUE(std::regex_search(pipe, std::regex("_[0-9a-f]{32}$"))) << pipe;
  EXPECT_TRUE(S_ISSOCK(modeOf(pipe)));
  EXPECT_EQ(modeOf(pipe) & 022, 0u) << "the pipe follows the caller's umask";
  std::string theirs = connectEach({pipe}, true);
  EXPECT_NE(theirs.find("refused"), std::string::npos) << theirs;
  std::vector<pid_t> office;
  for (pid_t p : processesUsing(prefix)) office = groupMembers(::getpgid(p));
  ASSERT_GE(office.size(), 2u);
  for (pid_t p : office) {
    if (cmdline(p).find("soffice") != std::string::npos) {
      EXPECT_EQ(statusField(p, "Umask"), "0022") << cmdline(p);
    }
    std::error_code ec;  // the files it holds open
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(p) + "/fd", ec))
      EXPECT_NE(std::filesystem::read_symlink(fd.path(), ec).string(), work.file("leaked")) << cmdline(p);
  }

  // Killed, the client takes its office along; the next client removes the
  // pipe and profile it left.
  ::kill(client, SIGKILL);
  int status = 0;
  ::waitpid(client, &status, 0);
  ::close(in[1]);
  EXPECT_TRUE(waiter.eventually([&] { return std::none_of(office.begin(), office.end(), running); }, 15))
      << "the office outlived its client";
  CommandResult next = runPressmark({"CreatePSfromWord", work.file("next.ps"), work.file("doc.rtf")}, {}, env);
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_TRUE(pipesStartingWith(prefix).empty()) << "the dead client's pipe was left";
  std::string left;
  for (const auto& e : std::filesystem::recursive_directory_iterator(work.file("tmp")))
    if (e.path().filename().string().find("office-") == 0) left += e.path().string() + "\n";
  EXPECT_EQ(left, "") << "the dead client's profile was left";
}

}  // namespace
}  // namespace pm::test

// Declared weak: the office server (and with it these) is only built where
// the LibreOffice SDK is.
namespace pm::office {
std::string newPipeName(const std::string& kind) __attribute__((weak));
int connectOfficePipe(const std::string& pipe, std::string& why) __attribute__((weak));
}  // namespace pm::office

namespace pm::test {
namespace {

TEST(OfficeService, APipeSomeoneElseMadeUnderTheOfficesNameIsNeverConnectedTo) {
  REQUIRE_OFFICE();
  REQUIRE_CROSS_USER();
  ASSERT_TRUE(pm::office::connectOfficePipe != nullptr);
  // Another user got there first and listens, ready to take the bridge.
  std::string name = pm::office::newPipeName("office");
  std::string path = pipePathOf(name);
  std::string listen =
      "import socket,time,sys\ns=socket.socket(socket.AF_UNIX)\ns.bind(sys.argv[1])\ns.listen(5)\n"
      "print('listening', flush=True)\ntime.sleep(20)\n";
  std::string squatter = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- /usr/bin/python3 -c " +
                         shellQuote(listen) + " " + shellQuote(path) + " >/dev/null & echo $!";
  pid_t squatterPid = static_cast<pid_t>(std::atol(commandOutput(squatter).c_str()));
  ASSERT_GT(squatterPid, 0);
  Service waiter({});
  ASSERT_TRUE(waiter.eventually([&] { return std::filesystem::exists(path); }, 10));
  std::string why;
  EXPECT_EQ(pm::office::connectOfficePipe(name, why), -2);
  EXPECT_NE(why.find("65534"), std::string::npos) << why;
  ::kill(squatterPid, SIGKILL);
  ::unlink(path.c_str());

  // Our own socket that others may write to is not used either.
  std::string open = pm::office::newPipeName("office");
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof(a.sun_path), "%s", pipePathOf(open).c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ASSERT_EQ(::listen(fd, 5), 0);
  ::chmod(pipePathOf(open).c_str(), 0777);
  EXPECT_EQ(pm::office::connectOfficePipe(open, why), -2) << why;
  ::chmod(pipePathOf(open).c_str(), 0755);
  int ok = pm::office::connectOfficePipe(open, why);
  EXPECT_GE(ok, 0) << "this user's private socket is used: " << why;
  if (ok >= 0) ::close(ok);
  ::close(fd);
  ::unlink(pipePathOf(open).c_str());
}

// A Word document with tracked changes, and with a reviewer's comment when
// commented, written as a minimal OOXML package.
void writeReviewedDocx(const std::string& path, bool commented) {
  const std::string w = " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
  const std::string ann = " w:author=\"Ann\" w:date=\"2024-01-01T00:00:00Z\"";
  std::string body = "<w:p><w:r><w:t xml:space=\"preserve\">Kept text </w:t></w:r><w:ins w:id=\"1\"" + ann +
                     "><w:r><w:t>inserted marker</w:t></w:r></w:ins><w:del w:id=\"2\"" + ann +
                     "><w:r><w:delText>deleted words</w:delText></w:r></w:del></w:p>";
  std::vector<ZipPart> parts;
  std::string overrides;
  if (commented) {
    body +=
        "<w:p><w:commentRangeStart w:id=\"0\"/><w:r><w:t>commented marker</w:t></w:r>"
        "<w:commentRangeEnd w:id=\"0\"/><w:r><w:commentReference w:id=\"0\"/></w:r></w:p>";
    overrides =
        "<Override PartName=\"/word/comments.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml\"/>";
    parts = {
        {"word/comments.xml", "<w:comments" + w + "><w:comment w:id=\"0\"" + ann +
                                  " w:initials=\"A\"><w:p><w:r><w:t>a note</w:t></w:r></w:p></w:comment></w:comments>"},
        {"word/_rels/document.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
         "Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/comments\" "
         "Target=\"comments.xml\"/></Relationships>"}};
  }
  writeFile(path, docxPackage({"", "<w:document" + w + "><w:body>" + body + "<w:sectPr/></w:body></w:document>"}, parts,
                              overrides));
}

// In the client's own office and in a pooled one; with and without a
// reviewer's comment (which once ended the office while it opened).
class ReviewedWordDocument : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(ReviewedWordDocument, ConvertsWithTheInsertedText) {
  REQUIRE_OFFICE();
  auto [ownOffice, commented] = GetParam();
  Service svc({ownOffice ? "PRESSMARK_OFFICE_POOL=0" : "PRESSMARK_OFFICE_POOL=1"});
  std::string docx = svc.work.file("changes.docx");
  writeReviewedDocx(docx, commented);
  ASSERT_TRUE(std::filesystem::exists(docx));
  CommandResult r = runPressmark({"CreatePSfromWord", svc.work.file("r.ps"), docx}, {}, svc.env());
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  psToPdf(svc.work.file("r.ps"), svc.work.file("r.pdf"));
  std::string text = commandOutput("pdftotext " + shellQuote(svc.work.file("r.pdf")) + " -");
  EXPECT_NE(text.find("inserted marker"), std::string::npos) << text;
  EXPECT_EQ(text.find("commented marker") != std::string::npos, commented) << text;
}

INSTANTIATE_TEST_SUITE_P(Rows, ReviewedWordDocument, ::testing::Combine(::testing::Bool(), ::testing::Bool()));

}  // namespace

}  // namespace pm::test
