# Real work on PDF files through the module: merging, bookmarks into a list,
# a document's title edited and saved.
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
