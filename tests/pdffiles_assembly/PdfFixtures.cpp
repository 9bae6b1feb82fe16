// The PDF server tests' document maker and reader, shared by this program.
#include "pdfserver/Fixtures.cpp"
