// The viewer-window members of CreatePDF: closing the viewer's main window
// (and waiting until it is gone) and asking whether it exists.
#include <chrono>
#include <thread>

#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/pdffiles/AcrobatSteps.h"
#include "system/WindowTable.h"

namespace pm {
namespace {

// The viewer's main window under the names its versions used, in the order
// they are tried.
windows::Handle findViewerWindow() {
  windows::Handle h = 0;
  ignoreErrors([&] {
    h = windows::find("AdobeAcrobat", "");
    if (!h) h = windows::find(acrobat::kMainWindowClass, "");
    if (!h) h = windows::find("", "adobe acrobat professional");
    if (!h) h = windows::find("", "adobe acrobat standard");
  });
  return h;
}

Variant CloseAcrobat(CreatePDF&, Frame& f) {
  bool wait = true;
  int32_t timeout = 10;
  ignoreErrors([&] { wait = CBool(f["blnWaitUntilClosed"]); });
  ignoreErrors([&] { timeout = CInt(f["intTimeout"]); });
  windows::Handle h = findViewerWindow();
  if (!h) return Variant(false);
  double version = acrobatVersion();
  if (version > 7) ignoreErrors([&] { windows::send(h, windows::kMsgClose); });
  int64_t destroyed = -1;
  ignoreErrors([&] { destroyed = windows::send(h, windows::kMsgDestroy); });
  if (!wait) return Variant(destroyed == 0);
  // The window is looked up once more at least, and never past the
  // time-out. A short pause between looks keeps the wait off the processor.
  // The viewer here shows one window class for every version, so the wait
  // watches that class too: by the version's class alone, a wait below
  // version 8 would answer "closed" at once.
  const char* cls = version < 8 ? "AdobeAcrobat" : acrobat::kMainWindowClass;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max<int32_t>(timeout, 0));
  do {
    if (h == 0) break;
    ignoreErrors([&] {
      h = windows::find(cls, "");
      if (!h) h = windows::find(acrobat::kMainWindowClass, "");
    });
    if (h == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return Variant(h == 0);
}

Variant IsAcrobatHidden(CreatePDF&, Frame&) {
  return Variant(findViewerWindow() != 0);
}

void describe(Members<CreatePDF>& m) {
  m.method("CloseAcrobat", {P("blnWaitUntilClosed").opt(true), P("intTimeout").opt(int16_t{10})}, &CloseAcrobat,
           "Close the viewer's main window, optionally waiting until it is gone.")
      .method("IsAcrobatHidden", {}, &IsAcrobatHidden, "True when the viewer's main window exists, visible or not.");
}

const CreatePDFMembers::Register reg("pdffiles_window", &describe);

}  // namespace
}  // namespace pm
