#include "tests/e2e/robustness/TsanSuppressions.h"

// Read by the ThreadSanitizer runtime at start-up; ignored by other builds.
extern "C" const char* __tsan_default_suppressions() {
    return kTsanSuppressions;
}
