# Real work on PDF files through the module: merging, bookmarks into a list,
# a document's title edited and saved.
import pathlib

import pytest

import pressmark


def page_count(path):
    pd = pressmark.Dispatch("AcroExch.PDDoc")
    assert pd.Open(path)
    try:
        return pd.GetNumPages()
    finally:
        pd.Close()


def test_merge_bookmark_and_read_bookmarks(pdf, two_pages, tmp_path):
    merged = str(tmp_path / "merged.pdf")
    pdf.CreatePDFfromMultiPDF(merged, [two_pages, two_pages])
    assert page_count(merged) == 4
    pdf.CreateBookmarksInPDF(merged, ["Chapter One"])
    marks = pressmark.Ref()
    count = pdf.BookmarksToArray(merged, marks)
    assert count >= 1
    rows = marks.value
    assert isinstance(rows, pressmark.Array) and len(rows.shape) == 2
    assert rows[0][0] == "Chapter One" and rows[0][1] == 1


def test_document_title_edited_and_saved(pdf, two_pages, tmp_path):
    copy = tmp_path / "titled.pdf"
    copy.write_bytes(open(two_pages, "rb").read())
    doc = pdf.OpenDocument(str(copy))
    assert pressmark.typename(doc) == "Document" and doc.NumPages == 2
    doc.Title = "Annual report"
    doc.Author = "Pressmark"
    doc.Save(1)
    doc.CloseDoc()
    del doc
    again = pdf.OpenDocument(str(copy))
    assert (again.Title, again.Author) == ("Annual report", "Pressmark")


def test_objects_without_a_member_table_answer_properties(pdf, two_pages):
    doc = pdf.OpenDocument(two_pages)
    js = doc.CreateJavaScriptObject()
    assert js.numPages == 2
    color = js.color
    assert color.red == ["RGB", 1, 0, 0] and color.Red == color.red
    assert not hasattr(color, "NoSuchColour")


def test_with_closes_the_document_and_repr_names_its_file(pdf, two_pages):
    with pdf.OpenDocument(pathlib.Path(two_pages)) as doc:
        assert repr(doc) == f"<pressmark.Object Document {two_pages!r}>"
        assert doc.NumPages == 2
    with pytest.raises(pressmark.AutomationError):
        doc.NumPages


def test_a_collection_has_len_iteration_and_index(pdf, two_pages, tmp_path):
    copy = tmp_path / "form.pdf"
    copy.write_bytes(open(two_pages, "rb").read())
    with pdf.OpenDocument(copy) as doc:
        for name in ("name", "city", "zip"):
            doc.CreateTextField(name, 1, [72, 700, 272, 680])
        fields = doc.GetFields()
        assert len(fields) == 3 and list(fields) == ["name", "city", "zip"]
        # [i] counts from 0 as in Python, [key] is the collection's key.
        cases = [(0, "name"), (2, "zip"), (-1, "zip"), ("2", "city")]
        assert [fields[i] for i, _ in cases] == [want for _, want in cases]
        for bad, error in [(3, IndexError), (-4, IndexError), ("9", KeyError), (1.5, TypeError)]:
            with pytest.raises(error):
                fields[bad]
        assert bool(fields) and len(doc.GetFields()) == 3
        with pytest.raises(TypeError):
            len(doc)
