// Invariant checks for the fuzz targets: say what failed, then abort.
#pragma once

#include <cstdio>
#include <cstdlib>

// Unlike assert, stays active in release builds, which is how the targets are built.
#define FUZZ_CHECK(condition)                                                              \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (false)
