// Printer switching over the in-memory spooler: the parser, the bounded
// string copy, name matching, both switching methods and the member.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "support/TestSupport.h"
#include "system/Printers.h"

namespace pm::test {

namespace {

struct Parsed {
  std::string driver = "stale", port = "stale";
};
Parsed parse(const std::string& v) {
  Parsed p;
  ParsePrinterPorts(v, p.driver, p.port);
  return p;
}

// A spooler with an office's queues, the first the default.
class Spooler : public ::testing::Test {
 protected:
  Spooler() {
    s.queues = {
        {"Pressmark_PS", "Pressmark PostScript File", "Generic PostScript Printer", "file:/tmp/ps.prn"},
        {"Office_2nd", "Office Printer 2nd Floor", "HP LaserJet 4", "socket://10.0.0.9"},
        {"Lab", "Shared", "Generic PDF", "ipp://lab/printers/a"},
        {"Annex", "Shared", "Generic PDF", "ipp://annex/printers/b"},
    };
    s.defaultName = "Pressmark_PS";
  }
  MemorySpooler s;
};

}  // namespace

TEST(ParsePrinterPorts, DriverAndPortBeforeTheTimeOutsAndEmptyFieldsWhereCommasAreMissing) {
  std::string padded = "drv,port";
  padded += '\0';
  padded += std::string(1015, ' ');  // the profile buffer's padding is not a field
  const std::vector<std::vector<std::string>> rows = {
      {"Generic PostScript Printer,file:/tmp/x.prn,15,45", "Generic PostScript Printer", "file:/tmp/x.prn"},
      {"drv,port,", "drv", "port"},
      {"", "", ""},
      {"no commas at all", "", ""},
      {"drv,port", "drv", ""},  // one comma: port needs a second one
      {",port,15,45", "", "port"},
      {"drv,,15,45", "drv", ""},
      {padded, "drv", ""},
  };
  for (const auto& r : rows) {
    Parsed p = parse(r[0]);
    EXPECT_EQ(p.driver, r[1]) << r[0];
    EXPECT_EQ(p.port, r[2]) << r[0];
  }
}

TEST(PtrToString, CopiesUpToTheNulAndCutsLongNamesAt511) {
  const char text[] = "Pressmark_PS\0tail";
  EXPECT_EQ(PtrToString(text, sizeof text), "Pressmark_PS");
  EXPECT_EQ(PtrToString(nullptr, 100), "");
  EXPECT_EQ(PtrToString(text, 0), "");
  for (size_t n : {511u, 512u, 600u}) {
    std::string name(n, 'x');
    EXPECT_EQ(PtrToString(name.c_str(), name.size() + 1), std::string(511, 'x')) << n;
  }
}

TEST(PtrToString, NeverReadsPastTheReadableBytes) {
  // An unterminated name right before a page that may not be touched: any
  // read past the end faults.
  long page = ::sysconf(_SC_PAGESIZE);
  void* mem =
      ::mmap(nullptr, static_cast<size_t>(page) * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mem, MAP_FAILED);
  char* base = static_cast<char*>(mem);
  ASSERT_EQ(::mprotect(base + page, static_cast<size_t>(page), PROT_NONE), 0);
  char* text = base + page - 40;
  std::memset(text, 'a', 40);
  EXPECT_EQ(PtrToString(text, 40), "");
  text[39] = '\0';
  EXPECT_EQ(PtrToString(text, 40), std::string(39, 'a'));
  // A long unterminated run that does reach the buffer limit is cut there.
  char* longText = base + page - 600;
  std::memset(longText, 'b', 600);
  EXPECT_EQ(PtrToString(longText, 600), std::string(511, 'b'));
  ::munmap(mem, static_cast<size_t>(page) * 2);
}

TEST(PrinterInfo5, LayoutLocatesNamesInsideTheBuffer) {
  PrinterInfo5 info{"Lab", "ipp://lab", 4, 15000, 45000};
  uint32_t needed = 0;
  EXPECT_FALSE(layoutPrinterInfo5(info, nullptr, 0, needed));
  EXPECT_EQ(needed, 20u + 4u + 10u);
  std::vector<uint32_t> small(5);
  EXPECT_FALSE(layoutPrinterInfo5(info, small.data(), 20, needed));
  std::vector<uint32_t> buf(needed / 4 + 1);
  ASSERT_TRUE(layoutPrinterInfo5(info, buf.data(), static_cast<uint32_t>(buf.size() * 4), needed));
  const char* base = reinterpret_cast<const char*>(buf.data());
  EXPECT_STREQ(base + buf[0], "Lab");
  EXPECT_STREQ(base + buf[1], "ipp://lab");
  EXPECT_EQ(buf[2], 4u);
  EXPECT_EQ(buf[3], 15000u);
  EXPECT_EQ(buf[4], 45000u);
}

TEST(MatchPrinterName, ExactThenCaseThenUnderscoresThenDescription) {
  std::vector<PrinterQueue> q = {{"Office", "", "", ""},      {"office", "", "", ""},
                                 {"Front_Desk", "", "", ""},  {"Lab", "Lab Printer", "", ""},
                                 {"Annex", "Shared", "", ""}, {"Cellar", "Shared", "", ""}};
  EXPECT_EQ(matchPrinterName(q, "Office"), 0u);
  EXPECT_EQ(matchPrinterName(q, "office"), 1u);
  EXPECT_EQ(matchPrinterName(q, "OFFICE"), std::nullopt) << "two queues differ only in case";
  EXPECT_EQ(matchPrinterName(q, "front_desk"), 2u);
  EXPECT_EQ(matchPrinterName(q, "Front Desk"), 2u);
  EXPECT_EQ(matchPrinterName(q, "Lab Printer"), 3u);
  EXPECT_EQ(matchPrinterName(q, "lab printer"), 3u);
  EXPECT_EQ(matchPrinterName(q, "Shared"), std::nullopt) << "an ambiguous description picks nothing";
  EXPECT_EQ(matchPrinterName(q, "Nowhere"), std::nullopt);
  EXPECT_EQ(matchPrinterName(q, ""), std::nullopt);
}

TEST_F(Spooler, SetDefaultPrinter9xOpensSetsTheDefaultAttributeAndCloses) {
  s.attributes["Office_2nd"] = 0x40;  // read back and replaced, not combined
  std::string name = "Office_2nd";
  SetDefaultPrinter9x(s, name);
  EXPECT_EQ(s.defaultName, "Office_2nd");
  std::vector<std::string> want = {"open Office_2nd", "set5 Office_2nd|socket://10.0.0.9|4|15000|45000",
                                   "default Office_2nd", "close Office_2nd"};
  EXPECT_EQ(s.calls, want);
  EXPECT_EQ(s.openHandles(), 0);
}

TEST_F(Spooler, SetDefaultPrinter9xLeavesTheDefaultForUnknownUnopenableOrUnwritablePrinters) {
  std::string empty, unknown = "Nowhere", known = "Office_2nd";
  SetDefaultPrinter9x(s, empty);
  SetDefaultPrinter9x(s, unknown);
  s.failOpen = true;
  SetDefaultPrinter9x(s, known);
  EXPECT_TRUE(s.calls.empty());
  // A failed query or write closes the printer and leaves the default.
  s.failOpen = false;
  s.failGetPrinter = true;
  SetDefaultPrinter9x(s, known);
  EXPECT_EQ(s.calls, (std::vector<std::string>{"open Office_2nd", "close Office_2nd"}));
  s.calls.clear();
  s.failGetPrinter = false;
  s.failSetPrinter = true;
  SetDefaultPrinter9x(s, known);
  EXPECT_EQ(s.calls.size(), 3u);
  EXPECT_EQ(s.calls.back(), "close Office_2nd");
  EXPECT_EQ(s.defaultName, "Pressmark_PS");
  EXPECT_EQ(s.openHandles(), 0);
}

TEST(SetDefaultPrinter9x, ALongPrinterNameIsReadBackCutAt511) {
  MemorySpooler s;
  std::string longName(600, 'L');
  s.queues = {{longName, "", "drv", "file:/tmp/l.prn"}};
  SetDefaultPrinter9x(s, longName);
  ASSERT_EQ(s.calls.size(), 4u);
  EXPECT_EQ(s.calls[1], "set5 " + std::string(511, 'L') + "|file:/tmp/l.prn|4|15000|45000");
  EXPECT_EQ(s.defaultName, longName) << "the handle, not the copied name, says which printer";
}

TEST_F(Spooler, SetDefaultPrinterNTDriverPortAndTimeOutsMakeTheDevice) {
  std::string name = "Office_2nd";
  SetDefaultPrinterNT(s, name);
  EXPECT_EQ(s.defaultName, "Office_2nd");
  EXPECT_EQ(s.calls, (std::vector<std::string>{"default Office_2nd", "broadcast windows"}));
  EXPECT_EQ(s.getProfileString("windows", "Device", "", kProfileBuffer), "Office_2nd,HP LaserJet 4,socket://10.0.0.9");
  EXPECT_EQ(CurrentDefaultPrinter(s), "Office_2nd");
}

TEST_F(Spooler, SetDefaultPrinterNTTheTextsProfileValues) {
  // Two time-outs after driver and port: they are dropped.
  s.printerPorts["Lab"] = "Generic PDF,ipp://lab/printers/a,15,45";
  // A single comma: no port, so nothing changes.
  s.printerPorts["Annex"] = "Generic PDF,ipp://annex/printers/b";
  std::string lab = "Lab", annex = "Annex";
  SetDefaultPrinterNT(s, annex);
  EXPECT_EQ(s.defaultName, "Pressmark_PS");
  EXPECT_TRUE(s.calls.empty());
  SetDefaultPrinterNT(s, lab);
  EXPECT_EQ(s.defaultName, "Lab");
  EXPECT_EQ(s.getProfileString("windows", "Device", "", kProfileBuffer), "Lab,Generic PDF,ipp://lab/printers/a");
}

TEST_F(Spooler, SetDefaultPrinterNTAQueueWithoutDriverOrPortStaysPut) {
  s.queues.push_back({"NoDriver", "", "", "file:/tmp/n.prn"});
  s.queues.push_back({"NoPort", "", "drv", ""});
  std::string a = "NoDriver", b = "NoPort", c = "Nowhere";
  SetDefaultPrinterNT(s, a);
  SetDefaultPrinterNT(s, b);
  SetDefaultPrinterNT(s, c);
  EXPECT_EQ(s.defaultName, "Pressmark_PS");
  EXPECT_TRUE(s.calls.empty());
}

TEST_F(Spooler, WriteDefaultPrinterWritesTheDeviceAndBroadcasts) {
  WriteDefaultPrinter(s, "Lab", "Generic PDF", "ipp://lab/printers/a");
  EXPECT_EQ(s.defaultName, "Lab");
  EXPECT_EQ(s.calls.back(), "broadcast windows");
  // Other profile entries have no home here and are refused.
  EXPECT_FALSE(s.writeProfileString("PrinterPorts", "Lab", "x,y,1,2"));
  EXPECT_FALSE(s.writeProfileString("windows", "Device", "Nowhere,drv,port"));
  EXPECT_EQ(s.defaultName, "Lab");
}

TEST_F(Spooler, SetDefaultPrinterThePlatformChoosesTheMethod) {
  SetDefaultPrinter(s, "Lab");
  EXPECT_EQ(s.defaultName, "Lab");
  EXPECT_EQ(s.calls.front(), "default Lab") << "profile method: no printer handle";
  s.calls.clear();
  s.setPlatformId(kPlatformWin32Windows);
  SetDefaultPrinter(s, "Office_2nd");
  EXPECT_EQ(s.defaultName, "Office_2nd");
  EXPECT_EQ(s.calls.front(), "open Office_2nd");
}

TEST_F(Spooler, CreatePDFSetDefPrinterSwitchesThroughTheSpoolerInUseAndRaisesOnlyForNull) {
  registerCreatePDF();
  ScopedSpooler use(s);
  ObjectRef pdf = CreateObject(kCreatePDFProgId);
  EXPECT_EQ(errorOf([&] { call(pdf, "SetDefPrinter", {Variant::null()}); }), basic::InvalidUseOfNull);
  Variant name("Office 2nd");
  EXPECT_TRUE(call(pdf, "SetDefPrinter", {ByRef(name)}).isEmpty());
  EXPECT_EQ(s.defaultName, "Office_2nd");
  EXPECT_EQ(name, Variant("Office 2nd"));
  EXPECT_NO_THROW(call(pdf, "SetDefPrinter", {"No Such Printer"}));
  EXPECT_NO_THROW(call(pdf, "SetDefPrinter", {""}));
  EXPECT_EQ(s.defaultName, "Office_2nd");
  // The saved name of a print call restores the old default.
  std::string saved = CurrentDefaultPrinter(s);
  call(pdf, "SetDefPrinter", {"Lab"});
  call(pdf, "SetDefPrinter", {saved});
  EXPECT_EQ(s.defaultName, "Office_2nd");
}

}  // namespace pm::test
