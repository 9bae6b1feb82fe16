// The text conversions between UNO strings and the component's UTF-8, and
// the file URLs the office is given.
#include <filesystem>

#include "servers/office/OfficeBridge.h"
#include "servers/office/OfficeLaunch.h"

namespace pm::office {

std::string toUtf8(const ::rtl::OUString& s) {
  ::rtl::OString o = ::rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
  return std::string(o.getStr(), static_cast<size_t>(o.getLength()));
}

::rtl::OUString fromUtf8(const std::string& s) {
  return ::rtl::OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

::rtl::OUString fileUrl(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') abs = std::filesystem::absolute(path).string();
  return ::rtl::OUString::createFromAscii(asciiFileUrl(abs).c_str());
}

}  // namespace pm::office
