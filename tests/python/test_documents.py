# Documents through the module: objects without a member table, the with
# statement, and collections as Python sequences. (Merging, bookmarks and
# document properties are the component's own tests; values and write-back
# through the module are test_values' and test_members'.)
import pathlib

import pytest

import pressmark


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
