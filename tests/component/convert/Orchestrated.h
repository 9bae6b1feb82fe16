// A CreatePDF whose office programs and Distiller are played by a recording
// server: what the conversion tests of the four folders share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "automation/Automation.h"
#include "automation/surfaces/Distiller.h"
#include "component/convert/PrintFileWait.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "servers/recording/Recorder.h"
#include "support/Raised.h"
#include "support/TestSupport.h"

namespace pm::test {

using recording::Recorder;
using Lines = std::vector<std::string>;

inline std::string q(const std::string& s) {
  return recording::Describe(Variant(s));
}

class Orchestrated : public ::testing::Test {
 protected:
  // The classes played besides the event-enabled Distiller; the temporary
  // files go into the test's folder.
  explicit Orchestrated(std::initializer_list<std::string> classes) {
    for (const std::string& c : classes) rec->registerClass(c);
    rec->registerClass(distiller::kEventClsid, distiller::eventSpecs());
    registerCreatePDF();
    pdf = CreateObject(kCreatePDFProgId);
    let(pdf, "TempFilePath", Variant(dir.path() + "/"));
    pauses.clear();
    previousPause = convert::setPrintWaitPause(&recordPause);
  }
  ~Orchestrated() override { convert::setPrintWaitPause(previousPause); }
  // The print-file wait's one-second pauses, recorded instead of slept: a
  // test sees whether and how the wait paused without reading a clock. The
  // short rests between looks still sleep, so a file that never comes ends
  // the wait at its real limit.
  static inline std::vector<std::chrono::milliseconds> pauses;
  static void recordPause(std::chrono::milliseconds ms) {
    if (ms >= std::chrono::seconds(1))
      pauses.push_back(ms);
    else
      std::this_thread::sleep_for(ms);
  }
  convert::PrintWaitPause previousPause = nullptr;
  bool has(const std::string& line) const {
    Lines t = rec->transcript();
    return std::find(t.begin(), t.end(), line) != t.end();
  }
  // The recorded lines that start with one of the prefixes, in order.
  Lines starting(const Lines& prefixes) const {
    Lines out;
    for (const std::string& l : rec->transcript())
      if (std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& p) { return l.starts_with(p); }))
        out.push_back(l);
    return out;
  }
  Lines tail(size_t n) const {
    Lines t = rec->transcript();
    return Lines(t.end() - static_cast<long>(std::min(n, t.size())), t.end());
  }
  // A temporary PostScript or PDF file (named by a number) is left.
  bool tempLeft() const {
    for (const auto& e : std::filesystem::directory_iterator(moduleState().strTempFilePath)) {
      std::string stem = e.path().stem(), ext = e.path().extension();
      if ((ext == ".ps" || ext == ".pdf") && stem.find_first_not_of("0123456789") == std::string::npos) return true;
    }
    return false;
  }

  TempDir registryDir_;
  ScopedEnv registry_{"PRESSMARK_REGISTRY", registryDir_.path()};
  TempDir dir;
  std::shared_ptr<Recorder> rec = Recorder::create();
  ObjectRef pdf;
};

}  // namespace pm::test
