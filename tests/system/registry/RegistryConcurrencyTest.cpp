// Two processes writing one hive at once, and a writer killed mid-write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "RegistryFixture.h"
#include "system/RegistryStore.h"
#include "system/clsRegistry.h"

namespace pm::test {

namespace {

class RegistryConcurrency : public RegistryTest {};

// Runs body in a child process that never returns into the test framework
// (an exception aborts it); exitCode gives 128 + the signal that ended one.
template <class Body>
pid_t spawn(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit([&]() noexcept { return body(); }() ? 0 : 1);
  return pid;
}
int exitCode(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Writes count values named prefix0... into the shared key.
bool writeMany(const std::string& prefix, int count) {
  clsRegistry reg;
  int32_t sz = regtype::String;
  bool ok = reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared") == -1;
  for (int i = 0; ok && i < count; ++i)
    ok = reg.CreateValue(prefix + std::to_string(i), Variant("value of " + prefix + std::to_string(i)), sz);
  return ok;
}

TEST_F(RegistryConcurrency, TwoWritingProcessesLoseNothing) {
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Shared]\r\n");
  pid_t a = spawn([] { return writeMany("a", 200); }), b = spawn([] { return writeMany("b", 200); });
  EXPECT_EQ(exitCode(a), 0);
  EXPECT_EQ(exitCode(b), 0);
  registry::Hive hive = registry::parseHive(readFile(hklmFile()), "HKEY_LOCAL_MACHINE", hklmFile());
  ASSERT_NE(hive.findKey("SOFTWARE\\Shared"), nullptr);
  EXPECT_EQ(hive.findKey("SOFTWARE\\Shared")->values.size(), 400u);
  clsRegistry reg;
  ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared"), -1);
  bool raw = false;
  for (const char* p : {"a", "b"})
    for (int i = 0; i < 200; ++i) {
      std::string name = p + std::to_string(i);
      EXPECT_EQ(reg.GetValue(name, raw), Variant("value of " + name));
    }
}

TEST_F(RegistryConcurrency, KilledWriterLeavesOldOrNewFile) {
  // A sizeable hive, so each write takes a while.
  const std::string filler(200000, 'f');
  writeFile(hklmFile(), "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Crash]\r\n\"Big\"=\"0:" + filler + "\"\r\n");
  std::set<int> seen;
  for (int round = 0; round < 8; ++round) {
    pid_t child = spawn([&] {
      clsRegistry reg;
      int32_t sz = regtype::String;
      if (reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Crash") == -1)
        for (int i = 1;; ++i) reg.CreateValue("Big", Variant(std::to_string(i) + ":" + filler), sz);
      return false;
    });
    // Let it get into its writes, at a different point each round.
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    EXPECT_EQ(exitCode(child), 128 + SIGKILL);

    std::string text = readFile(hklmFile());
    SCOPED_TRACE(round);
    registry::Hive hive;
    ASSERT_NO_THROW(hive = registry::parseHive(text, "HKEY_LOCAL_MACHINE", hklmFile()));
    const registry::Key* key = hive.findKey("SOFTWARE\\Crash");
    const registry::Value* big = key ? key->find("Big") : nullptr;
    ASSERT_NE(big, nullptr);
    std::string value = big->data;
    size_t colon = value.find(':');
    ASSERT_NE(colon, std::string::npos);
    EXPECT_EQ(value.substr(colon + 1), filler + '\0');  // text with its NUL
    seen.insert(std::stoi(value.substr(0, colon)));

    // The next writer is not blocked by anything the killed one left.
    clsRegistry reg;
    ASSERT_EQ(reg.OpenRegistry(HKEY_LOCAL_MACHINE, "SOFTWARE\\Crash"), -1);
    int32_t sz = regtype::String;
    ASSERT_TRUE(reg.CreateValue("After", Variant(std::to_string(round)), sz));
  }
  EXPECT_FALSE(seen.empty());
}

}  // namespace

}  // namespace pm::test
