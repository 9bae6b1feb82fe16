// Document: one PDF that the viewer holds open on the client's behalf. Its
// members are orchestration over the viewer's document object and the
// document's JavaScript object, reached only through the automation client.
// Members live in groups (one file each) that register themselves.
#pragma once

#include <cstdint>
#include <string>

#include "automation/Automation.h"
#include "automation/Internal.h"

namespace pm {

class PM_INTERNAL Document : public Dispatch {
 public:
  // Opens strOpenDocumentPath of this thread's module state; never raises.
  Document();
  // Closes an opened document without saving, ignoring every error.
  ~Document() override;

  // Runs the member. On a document that did not open, a member that needed
  // it raises the unset-object error (91) naming the file and why, even
  // where the member ignores errors; errors of the viewer speak of pages by
  // the caller's 1-based numbers.
  Variant invoke(std::string_view name, Invoke kind, std::span<const Arg> args) override;
  const MemberTable* memberTable() const override;
  static const MemberTable& table();
  std::string typeName() const override { return "Document"; }

  // The viewer's objects; empty when the open failed. Using them then
  // raises the unset-object error (91) through the automation client.
  ObjectRef objPDDoc;
  ObjectRef objJSO;
  bool blnDocOpen = false;
  int16_t intBookmarkLevel = 0;
  // The running count (or found flag) of the current bookmark walk.
  int32_t lngWalkCount = 0;
  bool blnWalkFound = false;
  // The path this document was opened from: the default target of Save.
  std::string strDocumentPath;
  // Why the document did not open ("" when it did).
  std::string strOpenFailure;

  // The private text procedures the bookmark and search members share.
  static int16_t CountLeadingSpaces(const std::string& s);
  static int16_t CountSpaces(const std::string& s);
  static int16_t CountPeriods(const std::string& s);
  static bool StartsWithDigit(const std::string& s);
};

using DocumentMembers = MemberGroups<Document>;

// The factory CreatePDF.OpenDocument uses: a new Document that opens the
// path in moduleState().strOpenDocumentPath.
ObjectRef createDocument();

}  // namespace pm
