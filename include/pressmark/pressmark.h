// Pressmark for C++ clients: create objects by ProgID, call their members by
// name with Variants, and connect event sinks.
//
//   auto pdf = pressmark::create("Pressmark.CreatePDF");
//   pressmark::call(pdf, "CreatePDFfromPS", {"out.pdf", "in.ps"});
//   pressmark::onEvents(pdf, [](const std::string& name, std::span<pm::Variant* const> args) { ... });
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "automation/Automation.h"

namespace pressmark {

using pm::Arg;
using pm::Array;
using pm::AutomationError;
using pm::ObjectRef;
using pm::Variant;

// Creates an object by ProgID or class id ("{...}"); error 429 when none.
ObjectRef create(std::string_view progIdOrClsid);

using pm::call;
using pm::get;
using pm::let;

using EventHandler = std::function<void(const std::string& event, std::span<Variant* const> args)>;
// Connects a handler to the object's events for as long as the returned
// connection lives.
pm::EventConnection onEvents(const ObjectRef& source, EventHandler handler);

}  // namespace pressmark
