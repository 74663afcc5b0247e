#pragma once
// ThreadSanitizer suppressions for the tests of the driver side and the programs they start.
//
// The driver's debug-output lock is a std::recursive_timed_mutex taken with try_lock_for,
// which libstdc++ implements with pthread_mutex_clocklock. The sanitizer runtimes on this
// platform (GCC 12's and clang 14's) do not intercept that call, so they never see the lock
// being taken and report its every unlock as "unlock of an unlocked mutex". The test
// programs return this text from __tsan_default_suppressions (TsanSuppressions.cpp, linked
// into each); a test that starts qlnrun writes it to a file and names that in the child's
// TSAN_OPTIONS (QlnrunSession::tsanOptions).

inline constexpr const char kTsanSuppressions[] = "mutex:std::recursive_timed_mutex::unlock\n";
