#pragma once
// Test support: the hostile settings files every XML reader of the system must refuse at
// once, and the peak memory of the programs a test has run.

#include <sys/resource.h>

#include <string>

namespace testsupport {

// One 4,000-character entity referenced 100,000 times inside <root><child>: about 300 KB
// that would expand to 400 MB.
inline std::string FlatEntityExpansion(const std::string& root, const std::string& child) {
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE " + root + " [<!ENTITY e \"" +
                      std::string(4000, 'A') + "\">]>\n<" + root + "><" + child + ">";
    for (int i = 0; i < 100000; ++i)
        xml += "&e;";
    return xml + "</" + child + "></" + root + ">\n";
}

// 100,000 elements nested inside <root>.
inline std::string DeepNesting(const std::string& root) {
    std::string xml = "<" + root + ">";
    for (int i = 0; i < 100000; ++i)
        xml += "<a>";
    for (int i = 0; i < 100000; ++i)
        xml += "</a>";
    return xml + "</" + root + ">\n";
}

// Peak resident memory in MB of the largest program this test has run and waited for (its
// descendants included); 0 under a sanitizer, whose shadow memory says nothing about it.
inline long PeakChildMegabytes() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 0;
#else
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss / 1024;
#endif
}

}  // namespace testsupport
