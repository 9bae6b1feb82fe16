// Filling in a form of 17 fields (text, multi-line text, combo and list
// boxes, check boxes and radio buttons) and saving it, through the PDF
// server's PDDoc and JavaScript objects, as an order system filling one
// form per order would. Each round opens the form, sets every value, saves
// a full copy and closes; the best and the median of 15 rounds are printed
// for Latin values (drawn in the form's own font) and for Cyrillic and
// Chinese ones (drawn in an embedded font subset).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "PdfFilesBench.h"
#include "automation/Automation.h"
#include "automation/surfaces/Acrobat.h"

using namespace pm;
using Clock = std::chrono::steady_clock;

namespace {

struct FieldPlan {
  const char* name;
  const char* type;
  double x0, y0, x1, y1;
};

const FieldPlan kFields[] = {
    {"name", "text", 72, 740, 300, 720},         {"street", "text", 72, 710, 300, 690},
    {"city", "text", 72, 680, 300, 660},         {"zip", "text", 320, 680, 400, 660},
    {"phone", "text", 72, 650, 300, 630},        {"mail", "text", 72, 620, 300, 600},
    {"date", "text", 320, 740, 400, 720},        {"amount", "text", 320, 710, 400, 690},
    {"notes", "text", 72, 590, 400, 520},        {"country", "combobox", 72, 500, 300, 480},
    {"items", "listbox", 72, 470, 300, 400},     {"agree", "checkbox", 72, 380, 90, 362},
    {"news", "checkbox", 100, 380, 118, 362},    {"gift", "checkbox", 128, 380, 146, 362},
    {"size", "radiobutton", 72, 350, 90, 332},   {"colour", "radiobutton", 100, 350, 118, 332},
    {"ship", "radiobutton", 128, 350, 146, 332},
};

ObjectRef open(const std::string& path, ObjectRef& js) {
  ObjectRef doc = CreateObject(acrobat::kPDDoc);
  if (!CBool(call(doc, "Open", {path}))) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }
  js = objectOf(call(doc, "GetJSObject"));
  return doc;
}

void makeForm(const std::string& blank, const std::string& form, const std::vector<std::string>& items) {
  ObjectRef js;
  ObjectRef doc = open(blank, js);
  for (const FieldPlan& s : kFields) {
    call(js, "addField", {s.name, s.type, 0, V({s.x0, s.y0, s.x1, s.y1})});
    ObjectRef f = objectOf(call(js, "getField", {s.name}));
    std::string t = s.type;
    if (t == "combobox" || t == "listbox")
      call(f, "setItems", {Variant(Array::vector(std::vector<Variant>(items.begin(), items.end())))});
    if (t == "text" && std::string(s.name) == "notes") let(f, "multiline", true);
  }
  call(doc, "Save", {1, form});
  call(doc, "Close");
}

double fill(const std::string& form, const std::string& out, const std::string& text, const std::string& choice) {
  auto t0 = Clock::now();
  ObjectRef js;
  ObjectRef doc = open(form, js);
  for (const FieldPlan& s : kFields) {
    ObjectRef f = objectOf(call(js, "getField", {s.name}));
    std::string t = s.type;
    if (t == "text")
      let(f, "value", text + " " + s.name);
    else if (t == "combobox" || t == "listbox")
      let(f, "value", choice);
    else if (t == "checkbox")
      let(f, "value", "Yes");
    else
      let(f, "value", "0");
  }
  call(doc, "Save", {1, out});
  call(doc, "Close");
  return std::chrono::duration<double>(Clock::now() - t0).count() * 1000;
}

void report(const char* what, const std::string& form, const std::string& out, const std::string& text,
            const std::string& choice) {
  std::vector<double> ms;
  fill(form, out, text, choice);  // warm the engine and the file cache
  for (int i = 0; i < 15; ++i) ms.push_back(fill(form, out, text, choice));
  std::sort(ms.begin(), ms.end());
  std::printf("%-28s best %7.2f ms   median %7.2f ms   output %ld bytes\n", what, ms.front(), ms[ms.size() / 2],
              static_cast<long>(std::filesystem::file_size(out)));
}

}  // namespace

int main() {
  char dir[] = "/tmp/pm-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string d = dir, blank = d + "/blank.pdf", form = d + "/form.pdf", out = d + "/filled.pdf";
  pdfbench::writeDocument(blank, 1);
  std::string intl = d + "/intl.pdf";
  makeForm(blank, form, {"Deutschland", "France", "Italia"});
  makeForm(blank, intl, {"Deutschland", "Россия", "中国", "France"});
  std::printf("fill and save a 17-field form\n");
  report("Latin form, Latin values", form, out, "Jane Doe, 12 High Street", "France");
  report("Intl. form, Latin values", intl, out, "Jane Doe, 12 High Street", "France");
  report("Intl. form, Cyrillic + CJK", intl, out, "Иван Петров, 北京市", "Россия");
  std::filesystem::remove_all(d);
  return 0;
}
