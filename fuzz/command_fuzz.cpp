// Fuzz target: the pressmark command's own parsers: a shell line split into
// words, each word read as JSON and printed back.
#include <string_view>

#include "Fuzz.h"
#include "automation/Automation.h"
#include "Command.h"
#include "Json.h"

std::vector<std::string> pmFuzzTokens() {
  return {"[",
          "]",
          "[[1,2],[3,4]]",
          "\"",
          "\\\"",
          "\\u00e9",
          "\\ud83d\\ude00",
          "\\udc00",
          "'",
          "x:=",
          "@v",
          "$1",
          "null",
          "true",
          "1e308",
          "-0",
          ",",
          " ",
          "\xFF"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    for (const std::string& word : pm::cli::Session::splitArguments(text)) {
      pm::cli::jsonValueLength(word);
      if (auto v = pm::cli::parseJson(word))
        pm::cli::toJson(*v, [](const pm::ObjectRef&) { return std::string("$1"); });
    }
    if (auto v = pm::cli::parseJson(text)) pm::cli::toJson(*v, [](const pm::ObjectRef&) { return std::string("$1"); });
  } catch (const pm::AutomationError&) {
  }
  return 0;
}
