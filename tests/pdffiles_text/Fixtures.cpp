// The PDF server tests' document maker and read-back, shared rather than
// copied: the files these tests work on are made the same way.
#include "../pdfserver/Fixtures.cpp"
