// Every function between KESTRAV3_TARGET_PUSH and KESTRAV3_TARGET_POP is
// compiled for the given instruction sets, in GCC's words or in clang's.
// The accelerated units use it for their vector kernels.
#pragma once

#define KESTRAV3_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define KESTRAV3_TARGET_PUSH(isa) \
    KESTRAV3_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define KESTRAV3_TARGET_POP KESTRAV3_PRAGMA(clang attribute pop)
#else
#define KESTRAV3_TARGET_PUSH(isa) KESTRAV3_PRAGMA(GCC push_options) KESTRAV3_PRAGMA(GCC target(isa))
#define KESTRAV3_TARGET_POP KESTRAV3_PRAGMA(GCC pop_options)
#endif
