// What a client of libpressmark may link to. The library is built with
// hidden visibility and a version script: only declarations marked
// PRESSMARK_API (the headers of this folder) are part of its ABI.
#pragma once

#define PRESSMARK_API __attribute__((visibility("default")))
