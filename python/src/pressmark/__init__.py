"""Pressmark for Python: the component's objects called late-bound by name.

    import pressmark
    pdf = pressmark.CreatePDF()            # or pressmark.Dispatch("Pressmark.CreatePDF")
    print(pdf.TempFilePath)                # a property get
    pdf.TempFilePath = "/tmp/work"         # a property let
    pdf.CreatePDFfromWord("out.pdf", "in.docx", blnLandscape=True)
    with pdf.OpenDocument("out.pdf") as doc:   # closed at the end of the block
        print(doc.NumPages)

Errors are raised as AutomationError (number, source, description; args as
pywin32's com_error); see the README's Python section for values,
by-reference arguments, events and threads.
"""

from ._types import (
    Array,
    AutomationError,
    ErrorValue,
    MemberNotFoundError,
    Missing,
    Nothing,
    Null,
    Ref,
    ServerPath,
    path_parameters,
)
from ._pressmark import (
    Connection,
    CreatePDF,
    Dispatch,
    GetActiveObject,
    Object,
    WithEvents,
    typename,
)
from ._pressmark import call, get, let, set  # noqa: F401 -- reachable by name, kept out of __all__
from ._version import __version__  # noqa: F401 -- the package's version
from . import _idioms
# The function takes the name of its subpackage: pressmark.ocr(...) is the
# call, and `python -m pressmark.ocr` (which imports the subpackage by its
# full name) still finds the subpackage.
from .ocr import ocr

DispatchWithEvents = _idioms.DispatchWithEvents

# `set` (and its companions call/get/let) stay reachable as pressmark.set but
# are not exported by `from pressmark import *`: set would shadow the builtin.
__all__ = [
    "Array", "AutomationError", "Connection", "CreatePDF", "Dispatch", "DispatchWithEvents", "ErrorValue",
    "GetActiveObject", "MemberNotFoundError", "Missing", "Nothing", "Null", "Object", "Ref", "ServerPath", "WithEvents",
    "ocr", "path_parameters", "typename",
]
