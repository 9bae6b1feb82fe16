// Small steps the PDF-file methods share: the error trap of the methods that
// hold viewer objects, opening a file with a clear error when the viewer
// refuses it, the viewer version, and a Basic truth test of results.
#pragma once

#include <string>

#include "automation/Automation.h"

namespace pm {

// The "errors passed on" trap: on any failure, cleanup runs (it must not
// throw; wrap each of its steps in ignoreErrors) and the error is raised
// again with its number and description and the component's title.
template <class Body, class Cleanup>
void trapErrors(Body&& body, Cleanup&& cleanup) {
  try {
    body();
  } catch (...) {
    AutomationError e = currentAsAutomationError();
    cleanup();
    throw AutomationError(e.number(), kComponentTitle, e.description());
  }
}

// A viewer result read as a Boolean: False for anything that is not true
// (Empty, an object, text that is no Boolean).
bool resultIsTrue(const Variant& v);

// Calls Open on a viewer document object (a PDDoc with the path, an AVDoc
// with the path and an empty title). A file the viewer cannot open raises
// "File <path> cannot be opened." with the component's number, so the
// method never goes on with whatever document the object held before.
void openInViewer(const ObjectRef& doc, const std::string& path, bool viewerDocument);

// The numeric value of the leading number of the viewer version read at
// creation (0 when it has none).
double acrobatVersion();

// Closes a viewer object if it is set, ignoring failure (the traps' step).
void closeQuietly(const ObjectRef& doc, bool viewerDocument);

}  // namespace pm
