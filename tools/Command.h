// The pressmark command: one call per invocation, or a shell session of
// calls on one CreatePDF, with objects numbered $1, $2, ... and session
// variables @name passed by reference.
#pragma once

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/Automation.h"

namespace pm::cli {

class Session {
 public:
  explicit Session(std::ostream& out);
  ~Session();

  // Runs one shell line; prints its result line (after any event lines).
  // Returns false when the line raised an automation error.
  bool runLine(const std::string& line);
  // Runs one call from command-line words (each word one argument). Prints
  // the result unless there is none.
  bool runCall(const std::vector<std::string>& words);

  // Splits a shell line's argument text into words by the shell rules.
  static std::vector<std::string> splitArguments(const std::string& text);

 private:
  struct Parsed {
    std::vector<Arg> args;
  };
  Variant argument(const std::string& word, std::vector<std::unique_ptr<Variant>>& temps, Arg*& out,
                   std::vector<Arg>& args);
  void addArgument(const std::string& word, std::vector<Arg>& args, std::vector<std::unique_ptr<Variant>>& temps);
  ObjectRef target(const std::string& name);
  std::string objectName(const ObjectRef& o);
  std::string json(const Variant& v);
  void watch(const ObjectRef& o);
  void printError(const AutomationError& e);

  std::ostream& out_;
  ObjectRef root_;
  std::vector<ObjectRef> objects_;
  std::map<std::string, Variant> variables_;
  std::vector<EventConnection> connections_;
};

int runShell(std::istream& in, std::ostream& out);
void printHelp(std::ostream& out);
// The members (and events) of one class, found by name without regard to
// case; 2 and a message on err when there is no such class.
int printClassHelp(const std::string& className, std::ostream& out, std::ostream& err);
// Writes the registry keys an installer writes for the built-in servers.
int registerServers(std::ostream& out);

}  // namespace pm::cli
