// How OpenDocument makes a Document without the component frame depending on
// the document layer: the document layer installs its factory when the
// library loads.
#pragma once

#include "automation/Variant.h"

namespace pm {

using DocumentFactoryFn = ObjectRef (*)();
void setDocumentFactory(DocumentFactoryFn fn);
// The new Document, or an empty reference when none can be made.
ObjectRef createDocumentObject();

}  // namespace pm
