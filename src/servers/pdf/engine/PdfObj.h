// Small guarded steps on PDF objects, so the JavaScript object's members can
// be written as ordinary C++: every function here runs its MuPDF calls under
// mu::guard and turns a failure into an automation error. Pointers returned
// are borrowed from their container unless the result is an mu::ObjPtr.
#pragma once

#include <string>
#include <vector>

#include "servers/pdf/engine/Mu.h"

namespace pm::pdf::po {

// A name object for a key MuPDF has no constant for; made once and kept
// for the life of the process.
pdf_obj* key(const char* name);

// Reading.
pdf_obj* get(pdf_obj* d, pdf_obj* key);
pdf_obj* get(pdf_obj* d, const char* key);
pdf_obj* path(pdf_obj* d, const char* keys);  // "A/B/C"
// A form field entry that may sit on an ancestor (FT, Ff, V, DV, DA, Q ...).
pdf_obj* inherited(pdf_obj* d, pdf_obj* key);
int len(pdf_obj* a);
pdf_obj* at(pdf_obj* a, int i);
bool isDict(pdf_obj* o);
bool isArray(pdf_obj* o);
bool isName(pdf_obj* o);
bool isString(pdf_obj* o);
bool isNumber(pdf_obj* o);
bool isStream(pdf_obj* o);
bool isNull(pdf_obj* o);
std::string text(pdf_obj* o);  // a string or a name as UTF-8, else ""
std::string name(pdf_obj* o);  // a name, else ""
double num(pdf_obj* o, double def = 0);
// The numbers of an array (at most 64; a colour or a matrix has fewer).
std::vector<double> numbers(pdf_obj* arr);
int integer(pdf_obj* o, int def = 0);
bool nameIs(pdf_obj* o, const char* n);
bool same(pdf_obj* a, pdf_obj* b);  // the same object (by reference number when indirect)
int number(pdf_obj* o);             // the object number, 0 for a direct object
pdf_obj* catalog(pdf_document* d);
pdf_obj* pageObj(pdf_document* d, int page);
int pageNumberOf(pdf_document* d, pdf_obj* page);  // -1 when it is no page of the document
std::string streamText(pdf_obj* stream);

// Writing.
void put(pdf_obj* d, pdf_obj* key, pdf_obj* value);  // value is kept, not dropped
void putName(pdf_obj* d, pdf_obj* key, const std::string& v);
void putText(pdf_obj* d, pdf_obj* key, const std::string& v);
void putInt(pdf_obj* d, pdf_obj* key, int v);
void putReal(pdf_obj* d, pdf_obj* key, double v);
void putBool(pdf_obj* d, pdf_obj* key, bool v);
void putRect(pdf_obj* d, pdf_obj* key, fz_rect r);
void putReals(pdf_obj* d, pdf_obj* key, const std::vector<double>& v);
void del(pdf_obj* d, pdf_obj* key);
pdf_obj* putDict(pdf_obj* d, pdf_obj* key);   // the dictionary there, made when missing
pdf_obj* putArray(pdf_obj* d, pdf_obj* key);  // the array there, made when missing
mu::ObjPtr newDict(pdf_document* d);          // a new indirect dictionary
mu::ObjPtr newArray(pdf_document* d);
mu::ObjPtr newText(const std::string& s);
mu::ObjPtr newName(const std::string& s);
mu::ObjPtr newStream(pdf_document* d, const std::string& bytes, pdf_obj* dict = nullptr);
void push(pdf_obj* a, pdf_obj* v);
void insert(pdf_obj* a, pdf_obj* v, int at);
void remove(pdf_obj* a, int at);
// Removes every element that is o; answers how many went.
int removeAll(pdf_obj* a, pdf_obj* o);
// A JavaScript action dictionary running script.
mu::ObjPtr newScriptAction(pdf_document* d, const std::string& script);

}  // namespace pm::pdf::po
