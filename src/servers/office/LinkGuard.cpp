#include "servers/office/LinkGuard.h"

#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>

#include "servers/office/UnoUtil.h"

#include <utility>
#include <vector>

namespace pm::office {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace {

void setItems(const Reference<css::lang::XMultiServiceFactory>& provider, const char* node,
              const std::vector<std::pair<const char*, Any>>& items) {
  Any arg(prop("nodepath", ::rtl::OUString::createFromAscii(node)));
  css::uno::Sequence<Any> args(&arg, 1);
  Reference<css::container::XNameReplace> access(
      provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationUpdateAccess", args),
      UNO_QUERY_THROW);
  for (const auto& [name, value] : items) access->replaceByName(::rtl::OUString::createFromAscii(name), value);
  Reference<css::util::XChangesBatch>(access, UNO_QUERY_THROW)->commitChanges();
}

}  // namespace

void lockLinks(Session& s) {
  Reference<css::lang::XMultiServiceFactory> provider(
      s.context->getServiceManager()->createInstanceWithContext("com.sun.star.configuration.ConfigurationProvider",
                                                                s.context),
      UNO_QUERY_THROW);
  // Links (images, sections, objects) of a document whose origin is not a
  // trusted location are not loaded.
  setItems(provider, "/org.openoffice.Office.Common/Security/Scripting", {{"BlockUntrustedRefererLinks", Any(true)}});
  // Links are never updated: text documents (0, never) and spreadsheets
  // (1, never), whatever the document asks for.
  setItems(provider, "/org.openoffice.Office.Writer/Content/Update", {{"Link", Any(sal_Int32(0))}});
  setItems(provider, "/org.openoffice.Office.Calc/Content/Update", {{"Link", Any(sal_Int32(1))}});
}

}  // namespace pm::office
