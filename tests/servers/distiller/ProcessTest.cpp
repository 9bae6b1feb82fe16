// The child-process runner: arguments without a shell, output lines on the
// calling thread, exit status, and the group killed and reaped on every way
// out (time-out, callback exception, destruction without wait).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "automation/Error.h"
#include "support/Processes.h"
#include "support/TestSupport.h"
#include "system/Process.h"

namespace pm::test {
namespace {

using namespace std::chrono_literals;

struct Captured {
  std::vector<std::string> out, err, both;
};

ProcessOptions opts(std::vector<std::string> argv) {
  ProcessOptions o;
  o.argv = std::move(argv);
  return o;
}

ProcessOptions capture(std::vector<std::string> argv, Captured& c) {
  ProcessOptions o = opts(std::move(argv));
  o.onLine = [&c](OutputStream s, std::string_view line) {
    (s == OutputStream::Stdout ? c.out : c.err).emplace_back(line);
    c.both.emplace_back(line);
  };
  return o;
}

bool exists(pid_t pid) {
  return std::filesystem::exists("/proc/" + std::to_string(pid));
}

TEST(Process, ReportsExitCodesAndSignals) {
  ProcessResult ok = runProcess(opts({"true"}));
  EXPECT_TRUE(ok.success());
  EXPECT_EQ(ok.exitCode, 0);

  ProcessResult three = runProcess(opts({"sh", "-c", "exit 3"}));
  EXPECT_TRUE(three.exited);
  EXPECT_EQ(three.exitCode, 3);
  EXPECT_FALSE(three.success());
  EXPECT_EQ(three.describe(), "exit code 3");

  ProcessResult killed = runProcess(opts({"sh", "-c", "kill -9 $$"}));
  EXPECT_FALSE(killed.exited);
  EXPECT_EQ(killed.termSignal, SIGKILL);
  EXPECT_FALSE(killed.timedOut);
}

TEST(Process, PassesArgumentsLiterallyAndDeliversLinesWithoutLineEndsSplittingOverlongOnes) {
  struct Row {
    std::vector<std::string> argv;
    size_t maxLine;
    std::vector<std::string> out, err;
  };
  for (const Row& r : std::vector<Row>{
           {{"printf", "%s\\n", "a b", "$HOME", "*", "(x);y"}, 0, {"a b", "$HOME", "*", "(x);y"}, {}},
           {{"sh", "-c", "printf 'one\\r\\ntwo\\n'; echo err1 >&2; printf 'last'"},
            0,
            {"one", "two", "last"},
            {"err1"}},
           {{"printf", "%s\\n", "abcdefghijklmnopqrstuvwxy"}, 10, {"abcdefghij", "klmnopqrst", "uvwxy"}, {}}}) {
    Captured c;
    ProcessOptions o = capture(r.argv, c);
    if (r.maxLine) o.maxLine = r.maxLine;
    EXPECT_TRUE(runProcess(std::move(o)).success()) << r.argv.back();
    EXPECT_EQ(c.out, r.out);
    EXPECT_EQ(c.err, r.err);
  }
}

TEST(Process, RunsInTheWorkingDirectoryWithEnvironmentAdditions) {
  std::string dir = std::filesystem::canonical(std::filesystem::temp_directory_path()).string();
  Captured c;
  ProcessOptions o = capture({"sh", "-c", "pwd; echo \"$PM_PROCESS_TEST\"; echo \"${PATH:+has path}\""}, c);
  o.workingDir = dir;
  o.environment = {{"PM_PROCESS_TEST", "value with spaces"}};
  runProcess(std::move(o));
  EXPECT_EQ(c.out, (std::vector<std::string>{dir, "value with spaces", "has path"}));
}

TEST(Process, AMissingProgramRaisesFileNotFound) {
  std::string why;
  EXPECT_EQ(errorOf([] { Process p(opts({"/nonexistent/pm-no-such-program"})); }, &why), basic::FileNotFound);
  EXPECT_NE(why.find("pm-no-such-program"), std::string::npos);
}

TEST(Process, DoesNotLeakTheCallersDescriptors) {
  int fd = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(fd, 3);
  Captured c;
  std::string script = "test -e /proc/$$/fd/" + std::to_string(fd) + " && echo leaked || echo clean";
  runProcess(capture({"sh", "-c", script}, c));
  ::close(fd);
  EXPECT_EQ(c.out, (std::vector<std::string>{"clean"}));
}

TEST(Process, TimeOutKillsTheChildAndItsChildren) {
  Captured c;
  ProcessOptions o = capture({"sh", "-c", "sleep 300 & echo $!; wait"}, c);
  o.timeout = 300ms;
  Process p(std::move(o));
  pid_t child = p.pid();
  ProcessResult r = p.wait();
  EXPECT_TRUE(r.timedOut);
  EXPECT_FALSE(r.success());
  EXPECT_EQ(r.termSignal, SIGTERM);
  ASSERT_EQ(c.out.size(), 1u);
  pid_t grandchild = std::stoi(c.out[0]);
  EXPECT_FALSE(exists(child)) << "the child was not reaped";
  EXPECT_FALSE(stillRunning(grandchild)) << "the grandchild survived the time-out";
}

TEST(Process, SigkillFollowsWhenTermIsIgnored) {
  ProcessOptions o = opts({"sh", "-c", "trap '' TERM; sleep 300"});
  o.timeout = 200ms;
  o.killGrace = 200ms;
  ProcessResult r = runProcess(std::move(o));
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.termSignal, SIGKILL);
}

TEST(Process, TheKernelEndsAChildPastItsProcessorTime) {
  // No time-out of ours: the processor-time limit alone ends the loop.
  ProcessOptions o = opts({"sh", "-c", "while :; do :; done"});
  o.cpuLimit = std::chrono::seconds(1);
  ProcessResult r = runProcess(std::move(o));
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.termSignal, SIGXCPU) << r.describe();
}

TEST(Process, BackgroundChildrenLeftBehindAreKilledWhenTheChildExits) {
  // The grandchild keeps stdout open; without the group kill the wait
  // would last as long as it does.
  Captured c;
  ProcessResult r = runProcess(capture({"sh", "-c", "sleep 300 & echo $!; exit 0"}, c));
  EXPECT_TRUE(r.success());
  ASSERT_EQ(c.out.size(), 1u);
  EXPECT_FALSE(stillRunning(std::stoi(c.out[0])));
}

TEST(Process, AnExceptionFromTheCallbackKillsAndReaps) {
  pid_t child = -1, grandchild = -1;
  {
    ProcessOptions o = opts({"sh", "-c", "sleep 300 & echo $!; sleep 300"});
    o.onLine = [&](OutputStream, std::string_view line) {
      grandchild = std::stoi(std::string(line));
      throw std::runtime_error("sink failed");
    };
    Process p(std::move(o));
    child = p.pid();
    EXPECT_THROW(p.wait(), std::runtime_error);
    EXPECT_FALSE(p.running());
  }
  EXPECT_FALSE(exists(child));
  ASSERT_GT(grandchild, 0);
  EXPECT_FALSE(stillRunning(grandchild));
}

TEST(Process, DestructionWithoutWaitKillsAndReaps) {
  pid_t child;
  {
    Process p(opts({"sleep", "300"}));
    child = p.pid();
    EXPECT_TRUE(running(child));
  }
  EXPECT_FALSE(exists(child));
}

}  // namespace
}  // namespace pm::test
