// What a harness does when an invariant breaks: report and abort, so that
// libFuzzer keeps the input as a crash artifact.
#ifndef OMBRIX_FUZZ_FUZZ_CHECK_H
#define OMBRIX_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

#endif  // OMBRIX_FUZZ_FUZZ_CHECK_H
