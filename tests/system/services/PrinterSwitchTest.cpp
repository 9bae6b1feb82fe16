// Printer switching over the in-memory spooler: the parser, the bounded
// string copy, name matching, both switching methods and the member.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <tuple>

#include "automation/Automation.h"
#include "component/frame/CreatePDF.h"
#include "support/TestSupport.h"
#include "system/Printers.h"

namespace pm::test {

namespace {

struct Parsed {
  std::string driver = "stale", port = "stale";
  bool operator==(const Parsed&) const = default;
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
  for (const auto& r : rows) EXPECT_EQ(parse(r[0]), (Parsed{r[1], r[2]})) << r[0];
}

TEST(PtrToString, CopiesUpToTheNulCutsLongNamesAt511AndNeverReadsPastTheReadableBytes) {
  const char named[] = "Pressmark_PS\0tail";
  EXPECT_EQ(PtrToString(named, sizeof named), "Pressmark_PS");
  EXPECT_EQ(PtrToString(nullptr, 100), "");
  EXPECT_EQ(PtrToString(named, 0), "");
  for (size_t n : {511u, 512u, 600u}) {
    std::string name(n, 'x');
    EXPECT_EQ(PtrToString(name.c_str(), name.size() + 1), std::string(511, 'x')) << n;
  }
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
  EXPECT_EQ(std::string(base + buf[0]) + "|" + (base + buf[1]), "Lab|ipp://lab");
  EXPECT_EQ(std::vector<uint32_t>(buf.begin() + 2, buf.begin() + 5), (std::vector<uint32_t>{4, 15000, 45000}));
}

TEST(MatchPrinterName, ExactThenCaseThenUnderscoresThenDescription) {
  std::vector<PrinterQueue> q = {{"Office", "", "", ""},      {"office", "", "", ""},
                                 {"Front_Desk", "", "", ""},  {"Lab", "Lab Printer", "", ""},
                                 {"Annex", "Shared", "", ""}, {"Cellar", "Shared", "", ""}};
  // Two queues that differ only in case, or an ambiguous description, pick nothing.
  const std::pair<const char*, std::optional<size_t>> rows[] = {
      {"Office", 0},      {"office", 1},      {"OFFICE", {}}, {"front_desk", 2}, {"Front Desk", 2},
      {"Lab Printer", 3}, {"lab printer", 3}, {"Shared", {}}, {"Nowhere", {}},   {"", {}}};
  for (const auto& [name, index] : rows) EXPECT_EQ(matchPrinterName(q, name), index) << name;
}

// The handle method's calls are what another program sees of a switch: a
// printer left open, an attribute combined with the old bits instead of
// replacing them, or a default set after a failed query or write is a fault
// the CUPS scheduler would not show.
TEST_F(Spooler, SetDefaultPrinter9xClosesEveryHandleReplacesTheAttributeAndSwitchesOnlyAfterAGoodWrite) {
  s.attributes["Office_2nd"] = 0x40;  // read back and replaced, not combined
  std::string name = "Office_2nd", empty, unknown = "Nowhere";
  SetDefaultPrinter9x(s, name);
  EXPECT_EQ(s.defaultName, "Office_2nd");
  EXPECT_EQ(s.calls, (std::vector<std::string>{"open Office_2nd", "set5 Office_2nd|socket://10.0.0.9|4|15000|45000",
                                               "default Office_2nd", "close Office_2nd"}));
  s.defaultName = "Pressmark_PS";
  struct Row {
    std::string* name;
    bool failOpen, failGet, failSet;
    std::vector<std::string> calls;
  };
  const Row rows[] = {{&empty, false, false, false, {}},
                      {&unknown, false, false, false, {}},
                      {&name, true, false, false, {}},
                      {&name, false, true, false, {"open Office_2nd", "close Office_2nd"}},
                      {&name, false, false, true, {"open Office_2nd", "set5 ", "close Office_2nd"}}};
  for (const Row& r : rows) {
    s.calls.clear();
    std::tie(s.failOpen, s.failGetPrinter, s.failSetPrinter) = std::tie(r.failOpen, r.failGet, r.failSet);
    SetDefaultPrinter9x(s, *r.name);
    ASSERT_EQ(s.calls.size(), r.calls.size()) << testing::PrintToString(s.calls);
    for (size_t i = 0; i < r.calls.size(); ++i) EXPECT_EQ(s.calls[i].rfind(r.calls[i], 0), 0u) << s.calls[i];
    EXPECT_EQ(s.defaultName, "Pressmark_PS");
    EXPECT_EQ(s.openHandles(), 0);
  }
}

TEST(SetDefaultPrinter9x, ALongPrinterNameIsWrittenBackCutAt511ButTheHandleSwitchesTheRightPrinter) {
  MemorySpooler s;
  std::string longName(600, 'L');
  s.queues = {{longName, "", "drv", "file:/tmp/l.prn"}};
  SetDefaultPrinter9x(s, longName);
  ASSERT_EQ(s.calls.size(), 4u);
  EXPECT_EQ(s.calls[1], "set5 " + std::string(511, 'L') + "|file:/tmp/l.prn|4|15000|45000");
  EXPECT_EQ(s.defaultName, longName);
}

// The profile method: the device line is made of driver and port without
// the time-outs, and a queue without a driver or a port is never switched.
TEST_F(Spooler, SetDefaultPrinterNTWritesTheDeviceWithoutTimeOutsAndSkipsQueuesWithoutDriverOrPort) {
  s.printerPorts["Lab"] = "Generic PDF,ipp://lab/printers/a,15,45";
  s.printerPorts["Annex"] = "Generic PDF,ipp://annex/printers/b";  // one comma: no port
  s.queues.push_back({"NoDriver", "", "", "file:/tmp/n.prn"});
  s.queues.push_back({"NoPort", "", "drv", ""});
  for (std::string name : {"Annex", "NoDriver", "NoPort", "Nowhere"}) SetDefaultPrinterNT(s, name);
  EXPECT_EQ(s.defaultName, "Pressmark_PS");
  EXPECT_TRUE(s.calls.empty());
  const std::pair<std::string, std::string> rows[] = {{"Office_2nd", "Office_2nd,HP LaserJet 4,socket://10.0.0.9"},
                                                      {"Lab", "Lab,Generic PDF,ipp://lab/printers/a"}};
  for (auto [name, device] : rows) {
    SetDefaultPrinterNT(s, name);
    EXPECT_EQ(s.defaultName, name);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"default " + name, "broadcast windows"}));
    EXPECT_EQ(s.getProfileString("windows", "Device", "", kProfileBuffer), device);
    EXPECT_EQ(CurrentDefaultPrinter(s), name);
    s.calls.clear();
  }
}

TEST_F(Spooler, WriteDefaultPrinterBroadcastsAndRefusesEntriesWithoutAHome) {
  WriteDefaultPrinter(s, "Lab", "Generic PDF", "ipp://lab/printers/a");
  EXPECT_EQ(s.defaultName, "Lab");
  EXPECT_EQ(s.calls.back(), "broadcast windows");
  EXPECT_FALSE(s.writeProfileString("PrinterPorts", "Lab", "x,y,1,2"));
  EXPECT_FALSE(s.writeProfileString("windows", "Device", "Nowhere,drv,port"));
  EXPECT_EQ(s.defaultName, "Lab");
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
