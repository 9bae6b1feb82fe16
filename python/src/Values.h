// Values both ways between Python and the component's Variants.
//
//   None <-> Empty, pressmark.Null <-> Null, pressmark.Nothing -> Nothing
//   (Nothing comes back as None), bool <-> Boolean, int <-> Long (Integer and
//   Byte come back as int; an int beyond Long is a Double, as a Basic literal
//   is), float <-> Double (Single comes back as float), str <-> String,
//   Decimal <-> Currency, datetime <-> Date, pressmark.ErrorValue <-> Error,
//   bytes <-> one-dimensional Byte arrays, lists <-> arrays, wrappers <->
//   objects.
#pragma once

#include <pybind11/pybind11.h>

#include "automation/Variant.h"
#include "ThreadHome.h"

namespace pmpy {

namespace py = pybind11;

// Objects inside a value must belong to the calling thread.
pm::Variant toVariant(py::handle h);
py::object toPython(const pm::Variant& v);

}  // namespace pmpy
