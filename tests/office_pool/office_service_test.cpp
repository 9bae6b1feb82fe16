// The shared office service as separate client processes see it: each
// `pressmark` process leases a warm office from the user's service, which
// starts on first use, replaces offices that hang, die or are left busy,
// restarts them after a number of documents, keeps other users out and
// leaves nothing behind when idle. Every test runs its own service in its
// own private folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "support/OfficeDocs.h"
#include "support/TestSupport.h"

using namespace pm::test;

extern char** environ;

namespace {

#define REQUIRE_OFFICE() \
  PM_REQUIRE_OR_SKIP(officeServed(), "the office server is not built (no LibreOffice SDK)")

struct OfficeLine {
  int number = 0;
  pid_t pid = 0;
  bool leased = false;
  int conversions = 0;
  std::string pipe;  // where the office's connection is: /tmp/OSL_PIPE_<uid>_<pipe>
  std::string pipePath() const { return "/tmp/OSL_PIPE_" + std::to_string(::geteuid()) + "_" + pipe; }
};

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
  std::vector<pid_t> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    std::string name = e.path().filename().string();
    if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    std::ifstream in(e.path() / "cmdline", std::ios::binary);
    std::string cmd((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (cmd.find(folder) != std::string::npos) out.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return out;
}

pid_t spawnPressmark(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
  std::vector<std::string> all = {PRESSMARK_CLI};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) envs.emplace_back(*e);
  envs.insert(envs.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (std::string& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

int connectTo(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof(a.sun_path), "%s", path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Connects to each Unix socket as the user nobody; prints what happened.
CommandResult connectAsNobody(const std::vector<std::string>& sockets, bool asNobody) {
  std::string script =
      "import socket,sys\n"
      "for p in sys.argv[1:]:\n"
      "  s=socket.socket(socket.AF_UNIX)\n"
      "  try:\n"
      "    s.connect(p); print('connected', p)\n"
      "  except OSError as e:\n"
      "    print('refused', p, e.errno)\n";
  writeFile("/tmp/pressmark-connect-check.py", script);
  std::string cmd = asNobody ? "setpriv --reuid=nobody --regid=nogroup --clear-groups -- " : "";
  cmd += "/usr/bin/python3 /tmp/pressmark-connect-check.py";
  for (const std::string& s : sockets) cmd += " " + shellQuote(s);
  CommandResult r;
  r.out = commandOutput(cmd);
  ::unlink("/tmp/pressmark-connect-check.py");
  return r;
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
  struct stat st{};
  ASSERT_EQ(::stat(svc.folder.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::vector<std::string> sockets = {svc.folder.file("office.sock")};
  for (const OfficeLine& o : offices) sockets.push_back(o.pipePath());
  std::string mine = connectAsNobody(sockets, false).out;
  EXPECT_EQ(std::count(mine.begin(), mine.end(), '\n'), static_cast<long>(sockets.size()));
  EXPECT_EQ(mine.find("refused"), std::string::npos) << "the owner connects: " << mine;
  std::string theirs = connectAsNobody(sockets, true).out;
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

}  // namespace
