// The Python classes the extension builds values and errors from, looked up
// once when the module loads. The references are kept for the life of the
// process on purpose: releasing them at exit would run after the interpreter.
#pragma once

#include <pybind11/pybind11.h>

#include <string_view>

#include "automation/Error.h"

namespace pmpy {

namespace py = pybind11;

struct PyTypes {
  py::handle automationError, memberNotFoundError;
  py::handle null, nothing, missing, errorValue, ref, array;
  py::handle decimal, datetime, date;
  py::handle currencyScaled, currency, dateSerial, date_;
  py::handle memberFunction, lateFunction;
};

const PyTypes& types();
void loadTypes();

// Text from the component as a Python str; bytes that are not UTF-8 become
// replacement characters rather than failing the whole result.
py::str text(std::string_view s);

// Sets the Python error for an automation error (438 also reads as an
// AttributeError) and returns the exception to throw to pybind11.
// Sets it without throwing (for exception translators).
void setPythonError(const pm::AutomationError& e);
[[noreturn]] void raisePython(const pm::AutomationError& e);

}  // namespace pmpy
