#include "component/frame/DocumentFactory.h"

#include <atomic>

namespace pm {

namespace {
std::atomic<DocumentFactoryFn> factory{nullptr};
}

void setDocumentFactory(DocumentFactoryFn fn) {
  factory.store(fn);
}

ObjectRef createDocumentObject() {
  DocumentFactoryFn fn = factory.load();
  return fn ? fn() : ObjectRef{};
}

}  // namespace pm
