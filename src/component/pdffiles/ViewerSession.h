// The viewer objects one search or link method holds, and its error trap:
// on a failure the viewer document and the document are closed, the viewer
// is asked to exit, everything is released and the error goes on with the
// component's title as its source.
#pragma once

#include "automation/Automation.h"

namespace pm::pdffiles {

struct ViewerSession {
  ObjectRef app, pddoc, avdoc, bookmark;

  template <class Body>
  void trap(Body&& body) {
    passErrorsOn(std::forward<Body>(body), [&] {
      if (avdoc) ignoreErrors([&] { call(avdoc, "Close", {Variant(true)}); });
      if (pddoc) ignoreErrors([&] { call(pddoc, "Close"); });
      if (app) ignoreErrors([&] { call(app, "Exit"); });
      release();
    });
  }

  // Steps shared by the methods: the viewer, the document opened (its
  // answer is not looked at) and shown in a viewer window.
  void openInViewer(const Variant& path);

  // The window closed without asking, the document closed, the viewer left.
  void closeViewer() {
    call(avdoc, "Close", {Variant(true)});
    call(pddoc, "Close");
    call(app, "Exit");
  }

  // In the order the objects were made.
  void release() {
    app.reset();
    pddoc.reset();
    avdoc.reset();
    bookmark.reset();
  }
};

}  // namespace pm::pdffiles
