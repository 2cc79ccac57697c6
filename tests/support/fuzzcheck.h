// The fuzz targets' check: a broken invariant aborts, which libFuzzer and the gtest replays both report.
#pragma once
#include <cstdlib>

#define FUZZ_CHECK(cond)  \
  do {                    \
    if (!(cond)) abort(); \
  } while (0)
