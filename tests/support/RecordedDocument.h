// The viewer document of the recording server, as a Document opens it.
#pragma once

#include "servers/recording/Recorder.h"

namespace pm::test {

// Registers the viewer document class on rec: Open answers True and its
// JavaScript object is the recorded object "JSO". The module state names
// "/docs/a.pdf" as the next document to open.
void recordViewerDocument(recording::Recorder& rec);

}  // namespace pm::test
