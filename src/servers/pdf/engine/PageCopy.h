// Pages copied from one PDF into another with what users put on them: the
// page content and resources, its annotations (links, notes, markup, pop-ups,
// widgets) and the form fields its widgets belong to, merged into the
// target's form.
#pragma once

#include "servers/pdf/engine/Mu.h"

namespace pm::pdf {

// Copies the pages first..last (0-based) of src into dst so that the first
// copy becomes page at of dst.
//
// Links and actions that lead to a copied page lead to its copy; those that
// lead to a page not copied are dropped (a link left without a destination
// goes with them), so nothing refers back to objects of src. A copied field
// whose top-level name the target's form already has is renamed with the
// first free suffix "_2", "_3", ...; the fields below it keep their own
// names, so "person.first" arrives as "person_2.first".
void copyPages(pdf_document* dst, int at, pdf_document* src, int first, int last);

// Takes out of the form the widgets that are on no page of the document any
// more, and the fields left without widgets by that: pages replaced or
// deleted leave their fields behind otherwise.
void pruneFormFields(pdf_document* doc);

}  // namespace pm::pdf
