#include "Command.h"

#include <cctype>
#include <iostream>
#include <sstream>

#include "automation/ClassTables.h"
#include "component/frame/CreatePDF.h"
#include "Json.h"

namespace pm::cli {

namespace {

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

bool isIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// A word's value: JSON where it parses as JSON, else the text itself; a
// quoted '...' group is always text.
Variant wordValue(const std::string& word) {
  if (word.size() >= 2 && word.front() == '\'' && word.back() == '\'') return Variant(word.substr(1, word.size() - 2));
  if (auto v = parseJson(word)) return *v;
  return Variant(word);
}

// Where a word names an argument (Name:=value), the name's length.
size_t namedPrefix(const std::string& word) {
  size_t i = 0;
  while (i < word.size() && isIdentChar(word[i])) ++i;
  if (i > 0 && word.compare(i, 2, ":=") == 0 && !std::isdigit(static_cast<unsigned char>(word[0]))) return i;
  return 0;
}

class PrintingSink : public EventSink {
 public:
  PrintingSink(std::ostream& out, std::function<std::string(const Variant&)> json)
      : out_(out), json_(std::move(json)) {}
  void onEvent(const EventCall& e) override {
    out_ << "event " << e.event.name;
    for (Variant* a : e.args) out_ << " " << json_(a ? *a : Variant());
    out_ << "\n";
  }

 private:
  std::ostream& out_;
  std::function<std::string(const Variant&)> json_;
};

}  // namespace

Session::Session(std::ostream& out) : out_(out) {
  registerCreatePDF();
  root_ = CreateObject(kCreatePDFProgId);
  watch(root_);
}

Session::~Session() {
  connections_.clear();
  objects_.clear();
  root_.reset();
}

void Session::watch(const ObjectRef& o) {
  if (!o || !o->connectionPoint()) return;
  auto sink = std::make_shared<PrintingSink>(out_, [this](const Variant& v) { return json(v); });
  connections_.emplace_back(o, sink);
}

std::string Session::objectName(const ObjectRef& o) {
  for (size_t i = 0; i < objects_.size(); ++i)
    if (objects_[i] == o) return "$" + std::to_string(i + 1);
  objects_.push_back(o);
  watch(o);
  return "$" + std::to_string(objects_.size());
}

std::string Session::json(const Variant& v) {
  return toJson(v, [this](const ObjectRef& o) { return jsonQuote(objectName(o)); });
}

ObjectRef Session::target(const std::string& name) {
  size_t n = 0;
  try {
    n = std::stoul(name.substr(1));
  } catch (...) {
  }
  if (n == 0 || n > objects_.size()) raise(basic::ObjectRequired, "No object " + name);
  return objects_[n - 1];
}

void Session::printError(const AutomationError& e) {
  out_ << "error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
}

std::vector<std::string> Session::splitArguments(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= text.size()) break;
    // A named argument's value follows the same rules as a plain word.
    size_t start = i;
    size_t j = i;
    while (j < text.size() && isIdentChar(text[j])) ++j;
    if (j > i && text.compare(j, 2, ":=") == 0) i = j + 2;
    if (i < text.size() && (text[i] == '"' || text[i] == '[')) {
      size_t n = jsonValueLength(std::string_view(text).substr(i));
      if (n > 0) {
        i += n;
        // Anything glued to the JSON value belongs to the same word.
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        words.push_back(text.substr(start, i - start));
        continue;
      }
    }
    if (i < text.size() && text[i] == '\'') {
      size_t close = text.find('\'', i + 1);
      if (close != std::string::npos) {
        i = close + 1;
        words.push_back(text.substr(start, i - start));
        continue;
      }
    }
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    words.push_back(text.substr(start, i - start));
  }
  return words;
}

void Session::addArgument(const std::string& word, std::vector<Arg>& args,
                          std::vector<std::unique_ptr<Variant>>& temps) {
  size_t named = namedPrefix(word);
  std::string name = named ? word.substr(0, named) : std::string();
  std::string value = named ? word.substr(named + 2) : word;
  if (value.size() > 1 && value[0] == '@' && isIdentChar(value[1])) {
    Variant& var = variables_[value.substr(1)];
    args.emplace_back(&var, name);
    return;
  }
  Variant v;
  if (value.size() > 1 && value[0] == '$' && std::isdigit(static_cast<unsigned char>(value[1]))) {
    v = Variant(target(value));
  } else {
    v = wordValue(value);
  }
  // Literals go by reference to a temporary, as a Basic caller's
  // expression would: a member may write to it, and nothing sees that.
  temps.push_back(std::make_unique<Variant>(std::move(v)));
  args.emplace_back(temps.back().get(), name);
}

bool Session::runLine(const std::string& raw) {
  std::string line = trim(raw);
  if (line.empty() || line[0] == '#') return true;
  try {
    // @name = value, @name
    if (line[0] == '@') {
      size_t i = 1;
      while (i < line.size() && isIdentChar(line[i])) ++i;
      std::string name = line.substr(1, i - 1);
      std::string rest = trim(line.substr(i));
      if (name.empty()) raise(basic::InvalidProcedureCall, "A variable needs a name: " + line);
      if (rest.empty()) {
        out_ << json(variables_[name]) << "\n";
        return true;
      }
      if (rest[0] != '=') raise(basic::InvalidProcedureCall, "Expected \"=\" after @" + name);
      std::string value = trim(rest.substr(1));
      variables_[name] = value.size() > 1 && value[0] == '$' ? Variant(target(value)) : wordValue(value);
      out_ << "ok\n";
      return true;
    }
    ObjectRef obj = root_;
    size_t i = 0;
    if (line[0] == '$') {
      size_t dot = line.find('.');
      if (dot == std::string::npos) raise(basic::InvalidProcedureCall, "Expected $N.Member: " + line);
      obj = target(line.substr(0, dot));
      i = dot + 1;
    }
    size_t start = i;
    while (i < line.size() && isIdentChar(line[i])) ++i;
    std::string member = line.substr(start, i - start);
    if (member.empty()) raise(basic::InvalidProcedureCall, "Expected a member name: " + line);
    std::string rest = line.substr(i);
    std::string restTrim = trim(rest);
    std::vector<std::unique_ptr<Variant>> temps;
    std::vector<Arg> args;
    if (!restTrim.empty() && restTrim[0] == '=' && (restTrim.size() == 1 || restTrim[1] != '=')) {
      std::string value = trim(restTrim.substr(1));
      addArgument(value.empty() ? std::string("\"\"") : value, args, temps);
      Invoke kind = args.back().get().isObject() ? Invoke::Set : Invoke::Let;
      obj->invoke(member, kind, args);
      out_ << "ok\n";
      return true;
    }
    if (!rest.empty() && !std::isspace(static_cast<unsigned char>(rest[0])))
      raise(basic::InvalidProcedureCall, "Unexpected text after " + member + ": " + rest);
    for (const std::string& w : splitArguments(rest)) addArgument(w, args, temps);
    Variant r = obj->invoke(member, Invoke::Method, args);
    if (r.isEmpty())
      out_ << "ok\n";
    else
      out_ << json(r) << "\n";
    return true;
  } catch (...) {
    printError(currentAsAutomationError());
    return false;
  }
}

bool Session::runCall(const std::vector<std::string>& words) {
  try {
    if (words.empty()) raise(basic::InvalidProcedureCall, "No member named");
    std::vector<std::unique_ptr<Variant>> temps;
    std::vector<Arg> args;
    for (size_t k = 1; k < words.size(); ++k) addArgument(words[k], args, temps);
    Variant r = root_->invoke(words[0], Invoke::Method, args);
    if (!r.isEmpty()) out_ << json(r) << "\n";
    return true;
  } catch (...) {
    printError(currentAsAutomationError());
    return false;
  }
}

int runShell(std::istream& in, std::ostream& out) {
  bool ok = true;
  try {
    Session s(out);
    std::string line;
    while (std::getline(in, line)) {
      if (!s.runLine(line)) ok = false;
      out.flush();
    }
  } catch (...) {
    AutomationError e = currentAsAutomationError();
    out << "error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    return 1;
  }
  return ok ? 0 : 1;
}

namespace {

std::string describeDefault(const ParamSpec& p) {
  if (!p.optional) return "";
  if (!p.hasDefault) return " (optional)";
  return " = " + toJson(p.def, [](const ObjectRef&) { return std::string("Nothing"); });
}

}  // namespace

namespace {

std::string classNames() {
  std::string names;
  for (const MemberTable* t : classTables()) names += (names.empty() ? "" : ", ") + t->className();
  return names;
}

void printMembers(std::ostream& out, const MemberTable& t) {
  out << t.className() << " members:\n";
  // In the table's order: a class's groups as it lists them, each group's
  // members as declared, so related members stand together.
  for (const MemberSpec& member : t.members()) {
    const MemberSpec* m = &member;
    out << "  " << m->name;
    if (m->kind == Invoke::Get) out << " (property get)";
    if (m->kind == Invoke::Let) out << " (property let)";
    if (m->kind == Invoke::Set) out << " (property set)";
    for (const ParamSpec& p : m->params) {
      out << (p.optional ? " [" : " ") << p.name << (p.byRef ? "" : " (by value)") << describeDefault(p)
          << (p.optional ? "]" : "");
    }
    out << "\n";
    if (!m->help.empty()) out << "      " << m->help << "\n";
  }
  if (t.events().empty()) return;
  out << "\n" << t.className() << " events:\n";
  for (const EventSpec& e : t.events()) {
    out << "  " << e.name << " (" << e.dispid << ")";
    for (const ParamSpec& p : e.params) out << " " << p.name;
    out << "\n";
  }
}

}  // namespace

void printHelp(std::ostream& out) {
  out << "usage:\n"
         "  pressmark <Member> [arg ...]     call one member of a new CreatePDF and print its result\n"
         "  pressmark shell [FILE]           run calls from FILE or standard input, one a line\n"
         "  pressmark register               write the registry keys of the built-in servers\n"
         "  pressmark office status|stop     show or end this user's shared office service\n"
         "  pressmark serve [OPTION ...]     the HTTP conversion service (serve --help: its settings)\n"
         "  pressmark worker --broker URL    a worker of the service's farm\n"
         "  pressmark ocr IN OUT [--lang eng+deu] [--pdfa] [--force] [--rotate]\n"
         "                                   make a scanned PDF or a PNG, JPEG or TIFF image searchable\n"
         "  pressmark --help [CLASS]         this text, or the members of one class\n"
         "\n"
         "Arguments are JSON values where they parse as JSON, otherwise text; Name:=value passes a\n"
         "named argument. In the shell, $N.Member calls object N, Property = value assigns, @name\n"
         "is a session variable passed by reference (@name = value sets it, @name prints it).\n"
         "\n"
         "Classes: "
      << classNames()
      << "\n"
         "\n";
  // CreatePDF first: the one class a client creates; then the objects its
  // members hand out.
  printMembers(out, CreatePDF::table());
  for (const MemberTable* t : classTables()) {
    if (t == &CreatePDF::table()) continue;
    out << "\n";
    printMembers(out, *t);
  }
}

int printClassHelp(const std::string& className, std::ostream& out, std::ostream& err) {
  const MemberTable* t = findClassTable(className);
  if (!t) {
    err << "pressmark: there is no class " << className << "; the classes are " << classNames() << "\n";
    return 2;
  }
  printMembers(out, *t);
  return 0;
}

}  // namespace pm::cli
