// Small helpers for the office objects: property values and property sets.
#pragma once

#include <string>
#include <vector>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/uno/Sequence.hxx>

#include "servers/office/OfficeBridge.h"

namespace pm::office {

template <class T>
css::beans::PropertyValue prop(const char* name, const T& value) {
  css::beans::PropertyValue p;
  p.Name = ::rtl::OUString::createFromAscii(name);
  p.Value <<= value;
  return p;
}

inline css::uno::Sequence<css::beans::PropertyValue> props(const std::vector<css::beans::PropertyValue>& v) {
  return css::uno::Sequence<css::beans::PropertyValue>(v.data(), static_cast<sal_Int32>(v.size()));
}

template <class T>
T getProp(const css::uno::Reference<css::beans::XPropertySet>& set, const char* name) {
  T v{};
  set->getPropertyValue(::rtl::OUString::createFromAscii(name)) >>= v;
  return v;
}

template <class T>
void setProp(const css::uno::Reference<css::beans::XPropertySet>& set, const char* name, const T& value) {
  set->setPropertyValue(::rtl::OUString::createFromAscii(name), css::uno::Any(value));
}

}  // namespace pm::office
