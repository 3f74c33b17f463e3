// The export macro: marks a definition as part of the library's C ABI.
// The library is built with hidden visibility, so only definitions carrying
// DPXUT_EXPORT (and named in abi/exported_symbols.txt) reach the dynamic
// symbol table. Declarations live in include/dpxut.h.
#pragma once

#define DPXUT_EXPORT extern "C" __attribute__((visibility("default")))
