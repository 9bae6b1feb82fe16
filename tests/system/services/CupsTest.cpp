// Printer switching against the private cupsd of scripts/services/cups.sh.
// The user default lives in a private HOME made for this program, so the
// machine's own default printer is never touched; lpstat, a separate
// program, confirms what the switch did.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "support/OfficeDocs.h"
#include "support/TestSupport.h"
#include "system/Printers.h"

namespace pm::test {

namespace {

// The user default as lpstat sees it, "" when there is none.
std::string lpstatDefault() {
  std::string out = pm::test::commandOutput("timeout 30 lpstat -d 2>&1");
  const std::string tag = "system default destination: ";
  size_t at = out.find(tag);
  if (at == std::string::npos) return "";
  std::string name = out.substr(at + tag.size());
  return name.substr(0, name.find_first_of("\r\n"));
}

class CupsSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    PM_REQUIRE_OR_SKIP(pm::test::haveTestCups(),
                       "PRESSMARK_TEST_CUPS is not set: no test cupsd (scripts/services/cups.sh)");
    // Each test starts from the server default the service set.
    pm::test::resetTestCupsDefault();
    ASSERT_EQ(lpstatDefault(), "Pressmark_PS");
    registerCreatePDF();
    pdf_ = CreateObject(kCreatePDFProgId);
  }
  void setDefPrinter(const std::string& name) { call(pdf_, "SetDefPrinter", {name}); }
  ObjectRef pdf_;
};

}  // namespace

TEST_F(CupsSwitch, SwitchingToAQueueAndBackRestoresTheOldDefault) {
  std::string saved = CurrentDefaultPrinter(currentSpooler());
  EXPECT_EQ(saved, "Pressmark_PS");
  setDefPrinter("Pressmark_Office");
  EXPECT_EQ(lpstatDefault(), "Pressmark_Office");
  EXPECT_EQ(CurrentDefaultPrinter(currentSpooler()), "Pressmark_Office");
  setDefPrinter(saved);
  EXPECT_EQ(lpstatDefault(), "Pressmark_PS");
}

// Through the pressmark command too: a switch prints nothing, and an
// unknown name is no error.
TEST_F(CupsSwitch, AnUnknownNameChangesNothing) {
  pm::test::CommandResult r = pm::test::runPressmark({"SetDefPrinter", "Pressmark Office"});
  EXPECT_EQ(std::pair(r.exitCode, r.out), std::pair(0, std::string())) << r.err;
  EXPECT_EQ(lpstatDefault(), "Pressmark_Office");
  std::string lpoptions = std::string(std::getenv("HOME")) + "/.cups/lpoptions";
  std::string before = pm::test::readFile(lpoptions);
  EXPECT_EQ(pm::test::runPressmark({"SetDefPrinter", "No Such Printer"}).exitCode, 0);
  EXPECT_NO_THROW(setDefPrinter("No Such Printer"));
  EXPECT_NO_THROW(setDefPrinter(""));
  EXPECT_EQ(lpstatDefault(), "Pressmark_Office");
  EXPECT_EQ(pm::test::readFile(lpoptions), before);
}

TEST_F(CupsSwitch, TheProfileViewOfAQueue) {
  std::string dir = pm::test::testCupsDir();
  Spooler& s = currentSpooler();
  std::string ports = s.getProfileString("PrinterPorts", "Pressmark_PS", "", kProfileBuffer);
  EXPECT_EQ(ports, "Generic PostScript Printer,file:" + dir + "/out/ps-queue.prn,15,45");
  EXPECT_EQ(s.getProfileString("PrinterPorts", "Nowhere", "none", kProfileBuffer), "none");
  EXPECT_EQ(s.getProfileString("windows", "Device", "", kProfileBuffer),
            "Pressmark_PS,Generic PostScript Printer,file:" + dir + "/out/ps-queue.prn");
}

TEST_F(CupsSwitch, TheAttributeMethodOverCups) {
  std::unique_ptr<QueueSpooler> cups = makeCupsSpooler();
  cups->setPlatformId(kPlatformWin32Windows);
  SetDefaultPrinter(*cups, "Pressmark Office");
  EXPECT_EQ(lpstatDefault(), "Pressmark_Office");
  // The record read back through a handle marks the default.
  Spooler::Handle h = 0;
  ASSERT_TRUE(cups->openPrinter("Pressmark_Office", kPrinterAllAccess, h));
  std::vector<uint32_t> buf(256);
  uint32_t needed = 0;
  ASSERT_TRUE(cups->getPrinter5(h, buf.data(), static_cast<uint32_t>(buf.size() * 4), needed));
  EXPECT_EQ(buf[2], kPrinterAttributeDefault);
  EXPECT_TRUE(cups->closePrinter(h));
  SetDefaultPrinter(*cups, "Nowhere");
  EXPECT_EQ(lpstatDefault(), "Pressmark_Office");
}

}  // namespace pm::test
