// What the fuzz targets share: a check that stops the fuzzer on a mismatch.
#ifndef QUENLAT_TESTS_FUZZ_CHECK_H
#define QUENLAT_TESTS_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

// Aborts, naming the failed condition, when cond is false; libFuzzer then
// saves the input that did it.
#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

#endif
