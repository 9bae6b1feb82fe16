// The PowerPoint and Publisher conversions against the recording server,
// where the calls show what the real office hides: the print options set
// before printing, the print-file wait, and what the traps let go.
#include "component/convert/Orchestrated.h"

namespace pm::test {

namespace {

class SlidesOrchestration : public Orchestrated {
 protected:
  SlidesOrchestration() : Orchestrated({"Powerpoint.Application", "Publisher.Application"}) {
    rec->on("Powerpoint.Application", "Presentations").returnsObject("Presentations");
    rec->on("Presentations", "Open").returnsObject("Presentation");
    rec->on("Presentation", "PrintOptions").returnsObject("PrintOptions");
    rec->on("Presentation", "PageSetup").returnsObject("PageSetup");
    rec->on("PrintOptions", "ActivePrinter").returns(Variant("Old Printer"));
    writeFile(dir.file("show.ppt"), "slides");
    writeFile(dir.file("leaflet.pub"), "pages");
  }
};

TEST_F(SlidesOrchestration, PrintOptionsAreSetBeforePrintingAndTheFileIsAwaited) {
  rec->on("Presentation", "PrintOut").does([this](auto&, std::span<const Arg> a) {
    writeFile(CStr(a[0].get()), "%!PS-Adobe-3.0\n");
    return Variant();
  });
  call(pdf, "CreatePSfromPowerPoint2", {Arg(dir.file("out.ps")), Arg(dir.file("show.ppt"))});
  Lines t = rec->transcript();
  EXPECT_EQ(Lines(t.begin() + 11, t.begin() + 16),
            (Lines({"PrintOptions let ActivePrinter = \"Generic PostScript Printer\"",
                    "PrintOptions let PrintColorType = 1%", "PrintOptions let PrintInBackground = 0%",
                    "Presentation call PrintOut(PrintToFile:=\"" + dir.file("out.ps") + "\", From:=-1%, To:=-1%)",
                    "PrintOptions let ActivePrinter = \"Old Printer\""})));
  EXPECT_EQ(pauses.size(), 2u) << "the print-file wait of the PostScript \"2\" method";
  // A slide range goes as 32-bit numbers; black and white sets no colour type.
  rec->clear();
  call(pdf, "CreatePSfromPowerPoint2",
       {Arg(dir.file("out.ps")), Arg(dir.file("show.ppt")), Arg("Q"), Arg(int32_t{2}), Arg(int32_t{3}), Arg(false),
        Arg(true)});
  EXPECT_TRUE(has("Presentation call PrintOut(PrintToFile:=\"" + dir.file("out.ps") + "\", From:=2&, To:=3&)"));
  for (const std::string& l : rec->transcript()) EXPECT_EQ(l.find("PrintColorType"), std::string::npos) << l;
}

TEST_F(SlidesOrchestration, AWholePublicationTakesTheOfficesExportWithoutAWait) {
  std::string exported;
  rec->on("Publisher.Application", "Open").returnsObject("Document");
  rec->on("Publisher.Application", "ActiveDocument").returnsObject("ActiveDocument");
  rec->on("ActiveDocument", "ExportAsFixedFormat").does([&](auto&, std::span<const Arg> a) {
    exported = CStr(a[1].get());
    writeFile(exported, "%PDF-1.7\n%%EOF\n");
    return Variant();
  });
  call(pdf, "CreatePDFfromPub", {Arg(dir.file("out.pdf")), Arg(dir.file("leaflet.pub"))});
  EXPECT_TRUE(pauses.empty()) << "no print-file wait";
  EXPECT_TRUE(has("ActiveDocument call ExportAsFixedFormat(Format:=2%, Filename:=\"" + exported + "\")"));
  const std::string distilled = " call FileToPDF(\"" + exported + "\", \"" + dir.file("out.pdf") + "\", \"\")";
  Lines t = rec->transcript();
  EXPECT_NE(std::find_if(t.begin(), t.end(), [&](const std::string& l) { return l.ends_with(distilled); }), t.end());
  EXPECT_FALSE(tempLeft());
}

TEST_F(SlidesOrchestration, PowerPointFailureClosesQuitsAndLeavesNoTemporaryFile) {
  rec->on("Presentation", "PrintOut").fails(static_cast<int32_t>(0x80048240u), "Integer out of range.");
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromPowerPoint",
                   {Arg(dir.file("out.pdf")), Arg(dir.file("show.ppt")), Arg(int32_t{9}), Arg(int32_t{12})});
            }),
            (Raised{static_cast<int32_t>(0x80048240u), "Integer out of range.", "Pressmark"}));
  Lines t = rec->transcript();
  EXPECT_EQ(Lines(t.end() - 5, t.end()),
            (Lines{"release PrintOptions", "Presentation call Close()", "release Presentation",
                   "Powerpoint.Application call Quit()", "release Powerpoint.Application"}))
      << "the printer is not restored after a failure";
  EXPECT_FALSE(tempLeft());
}

TEST_F(SlidesOrchestration, CreatePSfromPub2ReturnsOnlyOnceTheFileIsStable) {
  rec->on("Publisher.Application", "Open").returnsObject("Document");
  rec->on("Publisher.Application", "ActiveDocument").returnsObject("ActiveDocument");
  // The driver writes the file in two steps after PrintOut has returned: the
  // start during the wait's first pause, the rest across its first check.
  static std::string printed;
  printed = dir.file("out.ps");
  rec->on("ActiveDocument", "PrintOut").returns(Variant());
  convert::setPrintWaitPause(+[](std::chrono::milliseconds ms) {
    pauses.push_back(ms);
    if (pauses.size() <= 2) writeFile(printed, pauses.size() == 1 ? "%!PS" : "%!PS-Adobe-3.0\n%%EOF\n");
  });
  call(pdf, "CreatePSfromPub2", {Arg(dir.file("out.ps")), Arg(dir.file("leaflet.pub"))});
  EXPECT_EQ(pauses.size(), 3u) << "the wait saw the file grow and waited again";
  EXPECT_EQ(readFile(dir.file("out.ps")), "%!PS-Adobe-3.0\n%%EOF\n");
  EXPECT_TRUE(has("ActiveDocument let ActivePrinter = \"Generic PostScript Printer\""));
}

TEST_F(SlidesOrchestration, Pub2TrapReportsTheOpenFailureNotTheCleanUpErrors) {
  rec->on("Publisher.Application", "Open").fails(static_cast<int32_t>(0x80004005u), "Publisher cannot open the file.");
  rec->on("Publisher.Application", "ActiveDocument").fails(91, "no document");
  EXPECT_EQ(raised([&] {
              call(pdf, "CreatePDFfromPub2", {Arg(dir.file("out.pdf")), Arg(dir.file("leaflet.pub"))});
            }),
            (Raised{static_cast<int32_t>(0x80004005u), "Publisher cannot open the file.", "Pressmark"}));
  EXPECT_EQ(rec->transcript(), (Lines({"create Publisher.Application",
                                       "Publisher.Application call Open(\"" + dir.file("leaflet.pub") + "\")",
                                       "Publisher.Application get ActiveDocument", "Publisher.Application call Quit()",
                                       "release Publisher.Application"})));
}

}  // namespace

}  // namespace pm::test
