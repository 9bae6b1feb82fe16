// Pressmark for C++ clients: create objects by ProgID, call their members by
// name with Variants, and connect event sinks. Everything a client uses is in
// namespace pressmark and in the headers of this folder.
//
//   auto pdf = pressmark::create("Pressmark.CreatePDF");
//   pressmark::call(pdf, "CreatePDFfromPS", {"out.pdf", "in.ps"});
//   auto events = pressmark::onEvents(pdf, [](const std::string& name, std::span<pressmark::Variant* const> args) {
//     ...
//   });
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "pressmark/Client.h"
#include "pressmark/Error.h"
#include "pressmark/Export.h"
#include "pressmark/Variant.h"

namespace pressmark {

// Creates an object by ProgID or class id ("{...}"); error 429 when none.
PRESSMARK_API ObjectRef create(std::string_view progIdOrClsid);

using EventHandler = std::function<void(const std::string& event, std::span<Variant* const> args)>;
// Connects a handler to the object's events for as long as the returned
// connection lives.
PRESSMARK_API EventConnection onEvents(const ObjectRef& source, EventHandler handler);

}  // namespace pressmark
