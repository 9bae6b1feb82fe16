"""Pressmark for Python: the component's objects called late-bound by name.

    import pressmark
    pdf = pressmark.CreatePDF()            # or pressmark.Dispatch("Pressmark.CreatePDF")
    print(pdf.TempFilePath)                # a property get
    pdf.TempFilePath = "/tmp/work"         # a property let
    pdf.CreatePDFfromWord("out.pdf", "in.docx", blnLandscape=True)

Errors are raised as AutomationError (number, source, description); see the
README's Python section for values, by-reference arguments, events and threads.
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
)
from ._pressmark import (
    Connection,
    CreatePDF,
    Dispatch,
    GetActiveObject,
    Object,
    WithEvents,
    call,
    get,
    let,
    set,
    typename,
)

__all__ = [
    "Array", "AutomationError", "Connection", "CreatePDF", "Dispatch", "ErrorValue", "GetActiveObject",
    "MemberNotFoundError", "Missing", "Nothing", "Null", "Object", "Ref", "WithEvents",
    "call", "get", "let", "set", "typename",
]
