#include "component/pdffiles/ThumbnailNames.h"

#include "automation/Convert.h"
#include "automation/Error.h"

namespace pm::pdffiles {

namespace {
bool blank(const Variant& v) {
  return v.isMissing() || Trim(CStr(v)).empty();
}
}  // namespace

std::string thumbnailExtension(const Variant& strFileExtention) {
  return blank(strFileExtention) ? std::string("bmp") : CStr(strFileExtention);
}

std::string thumbnailFile(const std::string& strPDF, const Variant& strFile, const std::string& extension) {
  if (!blank(strFile)) return CStr(strFile);
  auto dot = strPDF.rfind('.');
  return dot == std::string::npos ? extension : strPDF.substr(0, dot + 1) + extension;
}

std::string thumbnailFolder(const std::string& strPDF, const Variant& strDir) {
  if (blank(strDir)) {
    auto slash = strPDF.rfind('/');
    return slash == std::string::npos ? std::string() : strPDF.substr(0, slash + 1);
  }
  std::string dir = CStr(strDir);
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string thumbnailBaseName(const std::string& strPDF) {
  auto slash = strPDF.rfind('/');
  std::string name = slash == std::string::npos ? strPDF : strPDF.substr(slash + 1);
  auto dot = name.find('.');
  if (dot == std::string::npos)
    raise(basic::InvalidProcedureCall, "The file name " + name + " has no \".\" to end its base name at");
  return name.substr(0, dot);
}

std::string pageImageFile(const std::string& folder, const std::string& base, int32_t page,
                          const std::string& extension) {
  return folder + base + "_" + std::to_string(page) + "." + extension;
}

}  // namespace pm::pdffiles
