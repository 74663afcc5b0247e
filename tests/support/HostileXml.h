#pragma once
// Test support: hostile settings files every XML reader must refuse at once, and the peak
// memory of the programs a test ran (0 under a sanitizer, whose shadow memory would count).
#include <sys/resource.h>
#include <string>

namespace testsupport {

inline std::string Repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0)
        out += text;
    return out;
}

// One 4,000-character entity referenced 100,000 times: 300 KB that would expand to 400 MB.
inline std::string FlatEntityExpansion(const std::string& root, const std::string& child) {
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE " + root + " [<!ENTITY e \"" +
           std::string(4000, 'A') + "\">]>\n<" + root + "><" + child + ">" +
           Repeated("&e;", 100000) + "</" + child + "></" + root + ">";
}

inline std::string DeepNesting(const std::string& root) {
    return "<" + root + ">" + Repeated("<a>", 100000) + Repeated("</a>", 100000) + "</" + root +
           ">";
}

inline long PeakChildMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    usage.ru_maxrss = 0;
#endif
    return usage.ru_maxrss / 1024;
}

}  // namespace testsupport
