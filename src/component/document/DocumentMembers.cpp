// The frame of Document: viewer information, closing, saving and
// converting, the document properties and the save and view mappings.
#include "component/frame/ModuleState.h"
#include "component/document/Document.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

// ---- Viewer information: a property of the JavaScript object's app ----
Variant appProperty(Document& d, const char* name) {
  return Variant(CStr(get(objectOf(get(d.objJSO, "App")), name)));
}
Variant AcrobatFormsVersion(Document& d, Frame&) {
  return appProperty(d, "formsVersion");
}
Variant AcrobatLanguage(Document& d, Frame&) {
  return appProperty(d, "language");
}
Variant AcrobatPlatform(Document& d, Frame&) {
  return appProperty(d, "platform");
}
Variant AcrobatViewerType(Document& d, Frame&) {
  return appProperty(d, "viewerType");
}
Variant AcrobatViewerVariation(Document& d, Frame&) {
  return appProperty(d, "viewerVariation");
}
Variant AcrobatViewerVersion(Document& d, Frame&) {
  return appProperty(d, "viewerVersion");
}

Variant CalculateNow(Document& d, Frame&) {
  call(d.objJSO, "CalculateNow");
  return {};
}

Variant CloseDoc(Document& d, Frame&) {
  ignoreErrors([&] { call(d.objJSO, "CloseDoc", {true}); });
  d.blnDocOpen = false;
  return {};
}

Variant CreateJavaScriptObject(Document& d, Frame&) {
  return Variant(d.objJSO);
}

Variant SaveAs(Document& d, Frame& f) {
  if (vocab::codeIs(f["lngFileType"], 0)) {
    call(d.objJSO, "SaveAs", {f["strPath"]});
  } else {
    call(d.objJSO, "SaveAs", {f["strPath"], vocab::FileType(f["lngFileType"], moduleState().strAcrobatVersion)});
  }
  return {};
}

Variant Save(Document& d, Frame& f) {
  Variant type = f["lngSave"];
  if (Compare(type, Variant(int32_t(0))) < 0 || Compare(type, Variant(int32_t(1))) > 0) type = Variant(int32_t(0));
  // The default target is the file this document was opened from. The
  // thread's last opened path would write this document over another one
  // when a client works on two at a time.
  Variant target;
  if (Trim(CStr(f["strPDF"])).empty())
    target = Variant(d.strDocumentPath);
  else
    target = Variant(CStr(f["strPDF"]));
  call(d.objPDDoc, "Save", {ByRef(type), ByRef(target)});
  return {};
}

Variant GetFileType(Document&, Frame& f) {
  return Variant(vocab::FileType(f["i"], moduleState().strAcrobatVersion));
}
Variant GetLayout(Document&, Frame& f) {
  return Variant(vocab::Layout(f["i"]));
}
Variant SetPageView(Document& d, Frame& f) {
  return Variant(CBool(call(d.objPDDoc, "SetPageMode", {f["lngPageView"]})));
}

// ---- Properties ----
// Each reads or writes the member of the same name; conversions as the
// property's declared type asks.
template <VT T>
Variant jsGet(Document& d, Frame& f) {
  return coerce(get(d.objJSO, f.member().name), T);
}
Variant jsLet(Document& d, Frame& f) {
  let(d.objJSO, f.member().name, f["vNewValue"]);
  return {};
}

Variant GetKeyWords(Document& d, Frame&) {
  return call(d.objPDDoc, "GetInfo", {"KeyWords"});
}
Variant LetKeyWords(Document& d, Frame& f) {
  call(d.objPDDoc, "SetInfo", {"KeyWords", f["vNewValue"]});
  return {};
}
Variant InstanceID(Document& d, Frame&) {
  return Variant(CStr(call(d.objPDDoc, "GetInstanceID")));
}
Variant PermanentID(Document& d, Frame&) {
  return Variant(CStr(call(d.objPDDoc, "GetPermanentID")));
}
Variant PageMode(Document& d, Frame&) {
  return Variant(CStr(call(d.objPDDoc, "GetPageMode")));
}

// A property read from (and, where it can be, assigned to) the JavaScript
// object by its own name, converted to the type the Document hands out.
struct Prop {
  const char* name;
  VT type;
  bool canLet;
  const char* help;
};

template <size_t N>
void addProps(Members<Document>& m, const Prop (&props)[N]) {
  for (const Prop& p : props) {
    m.get(p.name, {},
          p.type == VT::Date      ? &jsGet<VT::Date>
          : p.type == VT::String  ? &jsGet<VT::String>
          : p.type == VT::Long    ? &jsGet<VT::Long>
          : p.type == VT::Boolean ? &jsGet<VT::Boolean>
                                  : &jsGet<VT::Variant>,
          p.help);
    if (p.canLet) m.let(p.name, {P("vNewValue")}, &jsLet, p.help);
  }
}

void describe(Members<Document>& m) {
  m.method("AcrobatFormsVersion", {}, &AcrobatFormsVersion,
           "The version number of the forms software running inside the viewer.")
      .method("AcrobatLanguage", {}, &AcrobatLanguage, "The language of the running Acrobat Viewer.")
      .method("AcrobatPlatform", {}, &AcrobatPlatform,
              "The platform that the script is currently executing on. Values: WIN, MAC, UNIX.")
      .method("AcrobatViewerType", {}, &AcrobatViewerType, "The viewer that the application is running.")
      .method("AcrobatViewerVariation", {}, &AcrobatViewerVariation, "The packaging of the running Acrobat Viewer.")
      .method("AcrobatViewerVersion", {}, &AcrobatViewerVersion, "The version number of the current viewer.")
      .method("CalculateNow", {}, &CalculateNow,
              "Forces computation of all calculation fields in the current document.")
      .method("CloseDoc", {}, &CloseDoc,
              "Close the current document without saving. See method Save for saving changes.")
      .method("CreateJavaScriptObject", {}, &CreateJavaScriptObject, "Create a JavaScript object.");

  static const Prop props[] = {
      {"Author", VT::Variant, true, "Get/set the author of the document."},
      {"BaseURL", VT::Variant, true, "Get/set the base URL to resolve relative web links within the document."},
      {"Calculate", VT::Variant, true,
       "Get/set calculate property. If true, allows calculations to be performed for this document. If false, "
       "prevents all calculations from happening for this document."},
      {"CreationDate", VT::Date, false, "Get document creation date."},
      {"Creator", VT::String, false, "Get document creator."},
      {"DataObjects", VT::Variant, false, "Get an array containing all the named data objects in the document."},
      {"Dirty", VT::Variant, true,
       "Get/set property to determine whether the document has been dirtied as the result of a changes to the "
       "document, and therefore needs to be saved."},
      {"Disclosed", VT::Variant, true,
       "Get/set property to determine whether the document should be accessible to JavaScripts in other "
       "documents."},
      {"DocumentFilename", VT::String, false,
       "Get the base filename with extension of the document referenced by the doc object. The "
       "device-independent path is not returned."},
      {"DynamicXFAForm", VT::Boolean, false, "Returns true if the document is XFA, and it is dynamic."},
      {"FileSize", VT::Long, false, "The file size of the document in bytes."},
      {"Icons", VT::Variant, false, "Gets an array of document icons."},
  };
  addProps(m, props);
  m.get("KeyWords", {}, &GetKeyWords, "Get/set the keywords that describe the document.")
      .let("KeyWords", {P("vNewValue")}, &LetKeyWords, "Get/set the keywords that describe the document.")
      .get("InstanceID", {}, &InstanceID, "Get the document instance ID.")
      .get("PermanentID", {}, &PermanentID, "Get the permanent ID.")
      .get("PageMode", {}, &PageMode, "Get the page mode.");
  static const Prop more[] = {
      {"MetaData", VT::Variant, true, "Get/set the XMP metadata embedded in a PDF document."},
      {"ModDate", VT::Date, false, "Get the date the document was last modified."},
      {"NoAutoComplete", VT::Variant, true, "Get/set auto-complete feature of forms."},
      {"NoCache", VT::Variant, true, "Get/set forms data caching feature."},
      {"NumFields", VT::Long, false, "The total number of form fields in the document."},
      {"NumPages", VT::Long, false, "The number of pages in the document."},
      {"NumTemplates", VT::Long, false, "The number of templates in the document."},
      {"PermStatusReady", VT::Boolean, false, "Get the permissions ready status for the document."},
      {"Producer", VT::String, false, "Get the producer of the document."},
      {"SecurityHandler", VT::String, false, "Get the name of the security handler used to encrypt the document."},
      {"Sounds", VT::Variant, false, "Get an array containing all of the named Sound Objects in the document."},
      {"Subject", VT::Variant, true, "Get/set the subject of the document."},
      {"Templates", VT::Variant, false, "Gets an array of all of the Template Objects in the document."},
      {"Title", VT::Variant, true, "The title of the document."},
      {"URL", VT::String, false, "Get the document's URL."},
      {"Path", VT::String, false, "The device-independent path of the document."},
  };
  addProps(m, more);

  m.method("SaveAs", {P("strPath").path(), P("lngFileType").opt(int32_t(0))}, &SaveAs,
           "Saves the file to the device-independent path specified by the required parameter. The document can be "
           "converted to another file type.")
      .method("Save", {P("lngSave").byVal(), P("strPDF").path().opt(std::string())}, &Save,
              "Save the current document.")
      .method("GetFileType", {P("i")}, &GetFileType, "Get the file type string.")
      .method("GetLayout", {P("i")}, &GetLayout, "Get document layout string.")
      .method("SetPageView", {P("lngPageView")}, &SetPageView, "Set page view mode.");
}

const DocumentMembers::Register reg("frame", &describe);

}  // namespace
}  // namespace pm
