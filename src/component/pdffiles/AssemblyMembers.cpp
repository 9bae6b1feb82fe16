// The assembly members of CreatePDF: one PDF built from the PDF files of a
// folder, from a list of PDF files, from one image, or from a list of
// images, through the viewer's document objects.
#include <sys/stat.h>

#include <memory>
#include <vector>

#include "automation/surfaces/Acrobat.h"
#include "component/frame/CreatePDF.h"
#include "component/frame/ModuleState.h"
#include "component/convert/Distill.h"
#include "component/pdffiles/AcrobatSteps.h"
#include "component/pdffiles/FileTable.h"
#include "component/pdffiles/TempImagePdf.h"
#include "system/SystemServices.h"

namespace pm {
namespace {

// The list argument's bounds, which 16-bit counters run over.
void listBounds(const Variant& list, int32_t& lower, int32_t& upper) {
  if (!list.isArray()) raise(basic::TypeMismatch);
  lower = list.array().lbound(1);
  upper = list.array().ubound(1);
  if (lower < INT16_MIN || upper > INT16_MAX) raise(basic::Overflow);
}

// True for a listed file that is the output itself: merging it would put
// the old result into the new one.
std::function<bool(const struct stat&)> isFile(const std::string& path) {
  struct stat out {};
  if (::stat(path.c_str(), &out) != 0) return {};
  return [out](const struct stat& st) { return st.st_dev == out.st_dev && st.st_ino == out.st_ino; };
}

Variant CreatePDFfromMultiPDFinDir(CreatePDF&, Frame& f) {
  Variant& strPDFFile = f["strPDFFile"];
  ObjectRef target, source;
  trapErrors(
      [&] {
        DirectoryListing list;
        if (!ListDirectory(f["strDirectory"], f["strFiles"], f["lngSortType"], f["lngSortOrder"], list, {},
                           isFile(CStr(strPDFFile))))
          return;
        if (list.count == 0) return;
        // The first listed file is the base; it stays as it is on disk.
        target = CreateObject(acrobat::kPDDoc);
        openInViewer(target, list.path(0), false);
        for (int16_t r = 1; r < list.count; ++r) {
          int16_t at = static_cast<int16_t>(CInt(call(target, "GetNumPages")) - 1);
          source = CreateObject(acrobat::kPDDoc);
          openInViewer(source, list.path(r), false);
          int16_t pages = CInt(call(source, "GetNumPages"));
          call(target, "InsertPages",
               {Variant(at), Variant(source), Variant(int16_t{0}), Variant(pages), Variant(true)});
          call(source, "Close");
          source.reset();
        }
        // An existing file is not deleted first: the save writes beside
        // it and replaces it only once the new file is complete.
        call(target, "Save", {Variant(int16_t{acrobat::kSaveFull}), CStr(strPDFFile)});
        call(target, "Close");
        target.reset();
      },
      [&] {
        closeQuietly(source, false);
        source.reset();
        closeQuietly(target, false);
        target.reset();
      });
  return {};
}

// The merge of a list of PDF files into a new document.
void mergeList(const Variant& strPDFFile, const Variant& varPDFFiles) {
  ObjectRef target, source;
  trapErrors(
      [&] {
        target = CreateObject(acrobat::kPDDoc);
        source = CreateObject(acrobat::kPDDoc);
        if (!resultIsTrue(call(target, "Create"))) raise(kErrComponent, "Unable to create document object.");
        // An existing file is not deleted first: it may be one of the
        // files to merge, and the save replaces it only once the new file is
        // complete, so a merge that fails leaves it as it was.
        // Pending window messages: a server process has none to process.
        int32_t lower = 0, upper = -1;
        listBounds(varPDFFiles, lower, upper);
        int32_t merged = 0;
        for (int32_t i = lower; i <= upper; ++i) {
          const Variant& entry = varPDFFiles.array().at({i});
          if (!FileExists(entry)) continue;
          ++merged;
          openInViewer(source, CStr(entry), false);
          int16_t pages = CInt(call(source, "GetNumPages"));
          int32_t count = CLng(call(target, "GetNumPages"));
          call(target, "InsertPages",
               {Variant(count - 1), Variant(source), Variant(int16_t{0}), Variant(pages), Variant(true)});
          call(source, "Close");
        }
        // A document without pages cannot be saved as a readable PDF.
        if (merged == 0) raise(kErrComponent, "There is no PDF file to merge: none of the listed files exists.");
        // Linearized below version 7. A save that fails is reported: the
        // caller would otherwise take a missing file for a merged one.
        double version = acrobatVersion();
        int16_t type =
            version < 7 ? int16_t{acrobat::kSaveFull | acrobat::kSaveLinearized} : int16_t{acrobat::kSaveFull};
        call(target, "Save", {Variant(type), CStr(strPDFFile)});
        ignoreErrors([&] { call(target, "Close"); });
        target.reset();
        source.reset();
      },
      [&] {
        closeQuietly(source, false);
        source.reset();
        closeQuietly(target, false);
        target.reset();
      });
}

Variant CreatePDFfromMultiPDF(CreatePDF&, Frame& f) {
  mergeList(f["strPDFFile"], f["varPDFFiles"]);
  return {};
}

// One image to a PDF. An existing output (or the empty file made for a
// conversion, whose name must not be given away) is replaced by the save,
// never deleted first.
void imageToPdf(const Variant& strPDFFile, const Variant& strImagefile, const Variant* info) {
  if (!FileExists(strImagefile)) raiseMissingFile(strImagefile);
  ObjectRef app, av, pd;
  trapErrors(
      [&] {
        app = CreateObject(acrobat::kApp);
        av = CreateObject(acrobat::kAVDoc);
        // An image the viewer cannot open gives no document; the one in
        // front would be some other file, so it is not taken.
        bool opened = resultIsTrue(call(av, "Open", {CStr(strImagefile), ""}));
        if (opened) av = objectOf(call(app, "GetActiveDoc"));
        if (opened && resultIsTrue(call(av, "IsValid"))) {
          // See above: nothing is deleted first
          pd = objectOf(call(av, "GetPDDoc"));
          static const char* const keys[] = {"Title", "Author", "Subject", "Keywords"};
          for (int k = 0; k < 4; ++k)
            if (!Trim(CStr(info[k])).empty()) call(pd, "SetInfo", {keys[k], CStr(info[k])});
          // Full save, linearized, unused objects dropped.
          bool saved = resultIsTrue(
              call(pd, "Save",
                   {Variant(int16_t{acrobat::kSaveFull | acrobat::kSaveLinearized | acrobat::kSaveCollectGarbage}),
                    CStr(strPDFFile)}));
          call(pd, "Close");
          if (!saved) raise(kErrComponent, "The PDF file " + CStr(strPDFFile) + " could not be saved.");
          pd.reset();
        }
        call(av, "Close", {Variant(true)});
        call(app, "Exit");
        av.reset();
        app.reset();
      },
      [&] {
        closeQuietly(av, true);
        av.reset();
        closeQuietly(pd, false);
        pd.reset();
        if (app) ignoreErrors([&] { call(app, "Exit"); });
        app.reset();
      });
}

Variant CreatePDFfromImageFile(CreatePDF&, Frame& f) {
  // Each slot is read on its own: a by-reference argument's slot is the
  // caller's variable, so the slots are not one array.
  const Variant info[4] = {f["strTitle"], f["strAuthor"], f["strSubject"], f["strKeywords"]};
  imageToPdf(f["strPDFFile"], f["strImagefile"], info);
  return {};
}

Variant CreatePDFfromMultiImage(CreatePDF&, Frame& f) {
  Variant& strPDFFile = f["strPDFFile"];
  Variant& varImageFiles = f["varImageFiles"];
  std::vector<std::unique_ptr<TempImagePdf>> temps;
  trapErrors(
      [&] {
        // Each temporary PDF is made exclusively before its conversion.
        const Variant blank[4] = {Variant(""), Variant(""), Variant(""), Variant("")};
        int32_t lower = 0, upper = -1;
        listBounds(varImageFiles, lower, upper);
        int16_t n = 0;
        for (int32_t i = lower; i <= upper; ++i) {
          const Variant& entry = varImageFiles.array().at({i});
          if (!FileExists(entry)) continue;
          temps.push_back(std::make_unique<TempImagePdf>(moduleState().strTempFilePath, n));
          imageToPdf(Variant(temps.back()->path()), entry, blank);
          // An image the viewer could not convert leaves no file behind.
          temps.back()->removeIfUnwritten();
          ++n;
        }
        if (n == 0) return;
        bool converted = false;
        for (auto& t : temps) converted = converted || FileExists(Variant(t->path()));
        if (!converted) raise(kErrComponent, "None of the image files could be converted to PDF.");
        // The merge replaces an existing file once the new one is
        // complete.
        std::vector<Variant> names;
        for (auto& t : temps) names.emplace_back(t->path());
        mergeList(strPDFFile, Variant(Array::vector(std::move(names))));
        // Only what is there: a conversion that wrote nothing left
        // nothing to delete.
        for (auto& t : temps) deleteIfExists(Variant(t->path()));
      },
      [&] {
        // The converted images stay for the caller to look at; the empty
        // names made for this call and never written go.
        for (auto& t : temps) t->removeIfUnwritten();
      });
  return {};
}

void describe(Members<CreatePDF>& m) {
  m.method("CreatePDFfromMultiPDFinDir",
           {P("strPDFFile").path(), P("strDirectory").path(), P("strFiles").path().opt("*.pdf"),
            P("lngSortType").opt(int32_t{0}), P("lngSortOrder").opt(int32_t{0})},
           &CreatePDFfromMultiPDFinDir, "Merge the PDF files of a folder, in the order asked for, into one PDF.")
      .method("CreatePDFfromMultiPDF", {P("strPDFFile").path(), P("varPDFFiles").path()}, &CreatePDFfromMultiPDF,
              "Merge a list of PDF files into one PDF.")
      .method("CreatePDFfromImageFile",
              {P("strPDFFile").path(), P("strImagefile").path(), P("strTitle").opt(""), P("strAuthor").opt(""),
               P("strSubject").opt(""), P("strKeywords").opt("")},
              &CreatePDFfromImageFile, "Convert an image file to PDF, with optional document information.")
      .method("CreatePDFfromMultiImage", {P("strPDFFile").path(), P("varImageFiles").path()}, &CreatePDFfromMultiImage,
              "Convert a list of image files into one PDF.");
}

const CreatePDFMembers::Register reg("pdffiles_assembly", &describe);

}  // namespace
}  // namespace pm
