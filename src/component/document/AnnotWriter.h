// Shared steps of the annotation members: the two-pass write of a new
// annotation, the note and free-text creators the find methods reuse, the
// default colours and small Variant helpers for page numbers.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "component/document/Document.h"

namespace pm::annot {

// Property names and values in the order they are assigned.
using Props = std::vector<std::pair<std::string, Variant>>;

// Adds an annotation and writes it in two passes: first pass, setProps,
// then a fresh property object for the second pass, setProps. Every step's
// failure is ignored, except when strict: then a failing addAnnot or first
// setProps (the annotation was not made) is raised.
void writeNew(Document& d, const Props& first, const Props& second, bool strict);

// The colour argument when it is an array, else the JavaScript object's
// named colour ("yellow", "red", "black", "white").
Variant colourOr(Document& d, const Variant& colour, const char* name);

// A note's point or pop-up rectangle: an array of Integers (values
// rounded half to even; error 6 when one does not fit).
Variant integers(std::initializer_list<double> values);

// True when the text, trimmed of spaces, is not empty.
bool hasText(const Variant& v);

// Numeric comparisons with 0 as Basic makes them (Empty reads as 0).
bool isZero(const Variant& v);
bool aboveZero(const Variant& v);
// v - 1 keeping the caller's number type (Integer, Long, Single, Double);
// a text or other value becomes a Double as Basic's subtraction makes it.
Variant minusOne(const Variant& v);
Variant plusOne(const Variant& v);

// The page height: the "y" of GetSize of AcquirePage(index) on objPDDoc.
double pageHeight(Document& d, const Variant& pageIndex);
// Raises invalid procedure call when the 1-based page is not in the
// document, so a creator never leaves an annotation on another page.
void requirePage(Document& d, const Variant& page);

// The note of the find methods (one per match): errors of each step are
// ignored.
struct Note {
  Variant page;  // 1-based
  Variant text, colour, author, subject, point, icon, name, lock, readOnly, popupOpen, state, width;
  bool transparent = false;
};
void addTextNote(Document& d, const Note& n);

// The free-text box, with the parameters of CreateFreeTextAnnot in order.
struct FreeText {
  Variant page, rect, text, colour, author, subject, name, lock, readOnly, alignment, fillColour, font, fontSize, width,
      rotation, opacity;
};
void createFreeText(Document& d, const FreeText& t, bool strict);

}  // namespace pm::annot
