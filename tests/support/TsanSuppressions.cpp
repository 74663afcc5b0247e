#include "tests/support/TsanSuppressions.h"

// Read by the ThreadSanitizer runtime at start-up; ignored by other builds.
extern "C" const char* __tsan_default_suppressions() {
    return kTsanSuppressions;
}
