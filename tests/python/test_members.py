# Objects by ProgID and class id; properties, methods, named and omitted
# arguments, by-reference write-back, help and errors.
import inspect
import pathlib
import re

import pytest

import conftest
import pressmark


def test_objects_by_progid_and_class_id():
    by_name = pressmark.Dispatch("Pressmark.CreatePDF")
    by_clsid = pressmark.Dispatch("{5A1E3C10-7F2B-4D6A-9C41-2B8E0D7F6A01}")
    assert pressmark.typename(by_name) == pressmark.typename(by_clsid) == "CreatePDF"
    assert repr(pressmark.CreatePDF()) == "<pressmark.Object CreatePDF>"
    with pytest.raises(pressmark.AutomationError) as e:
        pressmark.Dispatch("No.Such.Class")
    assert (e.value.number, e.value.source) == (429, "Pressmark") and str(e.value) == 'error 429 (Pressmark): ActiveX component can\'t create object: no class is registered as "No.Such.Class"'


def test_properties_read_and_assign_in_any_case(pdf, tmp_path):
    pdf.TempFilePath = str(tmp_path)
    assert pdf.TempFilePath == str(tmp_path) + "/"
    pdf.tempfilepath = str(tmp_path / "work")
    assert pdf.TEMPFILEPATH == str(tmp_path / "work") + "/"
    assert pdf.AcrobatVersion() == "7.1"


def test_members_are_listed_and_described(pdf):
    names = dir(pdf)
    assert {"CreatePDFfromWord", "TempFilePath", "BookmarksToArray", "OpenDocument"} <= set(names)
    assert len(names) == len({n.lower() for n in names}), "one entry per member, lets and gets together"
    method = pdf.createpdffromword
    sig = inspect.signature(method)
    assert list(sig.parameters)[:3] == ["strPDFFile", "strWordDocument", "strPassword"]
    assert sig.parameters["blnLandscape"].default is False
    assert "Print a Word document through the Distiller printer" in method.__doc__
    assert "strPages: Variant, by reference, optional, default ''" in method.__doc__
    thumbs = inspect.signature(pdf.CreateThumbnailImages)
    assert thumbs.parameters["strDir"].default is pressmark.Missing
    # The member table marks the parameters that name files on the machine.
    assert pressmark.path_parameters(method) == {"strPDFFile", "strWordDocument", "strJobOptionsFile", "strDistiller"}
    assert sig.parameters["strWordDocument"].annotation is pressmark.ServerPath
    assert "strPDFFile: Variant, by reference, a path on the server" in method.__doc__


def test_named_and_omitted_arguments(pdf):
    text = pressmark.Ref()
    assert pdf.OneDArrayToText(["a", "b"], text, ";") == 1 and text.value == "a;b"
    assert pdf.OneDArrayToText(strEndOfArrayChar="!", varArray=["a", "b"], strText=text, strEndOfRowChar=";") == 1
    assert text.value == "a;b!"
    # An omitted argument takes the default; Null is a value of its own.
    assert pdf.OneDArrayToText(["a"], text, ";", pressmark.Missing) == 1 and text.value == "a"
    assert pdf.OneDArrayToText(["a"], text, ";", pressmark.Null) != 1


def test_by_reference_write_back(pdf, tmp_path):
    lines = tmp_path / "lines.txt"
    lines.write_bytes(b"one\r\ntwo\r\nthree")
    arr = pressmark.Ref()
    pdf.TextFileToOneDArray(str(lines), arr)
    assert arr.value == ["one", "two", "three"] and arr.value.lbounds == (0,)
    # A plain value passed where a member writes back is left alone.
    pdf.TextFileToOneDArray(str(lines), plain := [])
    assert plain == []


def test_errors_carry_number_source_and_description(pdf):
    # The argument errors (449, 450) take the same way out of the call.
    number, description = 53, "File not found"
    with pytest.raises(pressmark.AutomationError) as e:
        pdf.CopyFile("/no/such/file", "/tmp/x")
    assert (e.value.number, e.value.source, e.value.description) == (number, "Pressmark", description)
    assert str(e.value) == f"error {number} (Pressmark): {description}"
    # Laid out as pywin32's com_error: DISP_E_EXCEPTION, and the error as
    # source, description and scode (0x800A0000 | number) in the excepinfo.
    hr, msg, exc, arg = e.value.args
    scode = (0x800A0000 | number) - 2**32
    assert (hr, msg, exc, arg) == (-2147352567, "Exception occurred.", (0, "Pressmark", description, None, 0, scode), None)


def test_unknown_members_and_arguments(pdf):
    with pytest.raises(pressmark.MemberNotFoundError) as e:
        pdf.NoSuchMember
    assert e.value.number == 438 and isinstance(e.value, AttributeError)
    assert not hasattr(pdf, "NoSuchMember") and hasattr(pdf, "CopyFile")
    for number, attempt in [(448, lambda: pdf.CopyFile("a", strNoSuchParameter="b")),
                            (6, lambda: setattr(pdf, "TempFilePath", 2**60))]:
        with pytest.raises(pressmark.AutomationError) as e:
            attempt()
        assert e.value.number == number


class _FsPath:
    """An os.PathLike that is not a pathlib.Path."""
    def __init__(self, path): self.path = path
    def __fspath__(self): return self.path


@pytest.mark.parametrize("as_path", [str, pathlib.Path, _FsPath], ids=["str", "pathlib", "PathLike"])
def test_file_names_as_paths(pdf, tmp_path, as_path):
    source = tmp_path / "in.txt"
    source.write_text("x")
    pdf.CopyFile(as_path(str(source)), as_path(str(tmp_path / "out.txt")))
    assert (tmp_path / "out.txt").read_text() == "x"


def test_star_import_and_version():
    ns = {}
    exec("from pressmark import *", ns)
    assert "set" not in ns and ns["Ref"] is pressmark.Ref and ns["DispatchWithEvents"] is pressmark.DispatchWithEvents
    version = re.search(r"project\(Pressmark VERSION ([0-9.]+)", (conftest.ROOT / "CMakeLists.txt").read_text())
    assert pressmark.__version__ == version.group(1)
