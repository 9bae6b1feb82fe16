// The one creatable class of the component (ProgID Pressmark.CreatePDF).
// Its members live in several files, one group of members per file, each
// group registering itself with MemberGroups<CreatePDF>.
#pragma once

#include <memory>
#include <string>

#include "automation/Automation.h"
#include "automation/Internal.h"

namespace pm {

inline constexpr const char* kCreatePDFProgId = "Pressmark.CreatePDF";
inline constexpr const char* kCreatePDFClsid = "{5A1E3C10-7F2B-4D6A-9C41-2B8E0D7F6A01}";

class CreatePDF : public Dispatch {
 public:
  CreatePDF();
  ~CreatePDF() override;

  const MemberTable* memberTable() const override;
  ConnectionPoint* connectionPoint() override { return &events_; }
  PM_INTERNAL static const MemberTable& table();

  // Instance state read by the member groups.
  std::string strPrinterName;
  // The event-enabled Distiller while a conversion runs. Assign through
  // setDistiller so its job events are relayed to this object's clients.
  const ObjectRef& distiller() const { return objAdobeDistiller_; }
  void setDistiller(ObjectRef distiller);
  // The depth of the bookmark walk of the PDF-file methods.
  int intBookmarkLevel = 0;

  // Raise one of the six job events to the client with copies of the
  // arguments, so a client that changes them changes nothing here.
  void relayEvent(const EventCall& e);

 private:
  void initialise();
  ConnectionPoint events_;
  ObjectRef objAdobeDistiller_;
  EventConnection distillerEvents_;
};

using CreatePDFMembers = MemberGroups<CreatePDF>;

// Registers Pressmark.CreatePDF with the class registry (once).
PM_INTERNAL void registerCreatePDF();

}  // namespace pm
