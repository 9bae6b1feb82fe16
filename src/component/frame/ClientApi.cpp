// The entry points of the public header for C++ clients.
#include "automation/Events.h"
#include "component/frame/CreatePDF.h"
#include "pressmark/pressmark.h"

namespace pressmark {

ObjectRef create(std::string_view progIdOrClsid) {
  pm::registerCreatePDF();
  return pm::CreateObject(progIdOrClsid);
}

EventConnection onEvents(const ObjectRef& source, EventHandler handler) {
  auto sink =
      std::make_shared<pm::FunctionSink>([h = std::move(handler)](const pm::EventCall& e) { h(e.event.name, e.args); });
  return pm::EventConnection(source, sink);
}

}  // namespace pressmark
