// Feeds arbitrary bytes to the B&S map reader as a plain map and as an enciphered one (with
// the built-in key), and corrects a few points, including ones outside every table and a
// NaN, with whatever loaded. Nothing may read or write outside the tables.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "driver/volcomp/bns/BnsCipher.h"
#include "driver/volcomp/bns/BnsCompMap.h"
#include "driver/volcomp/bns/BnsKeyMaterial.h"

namespace {

void Exercise(const BnsCompMap& map) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double points[][4] = {
        {0, 0, 0, 0}, {1e6, -1e6, 1e6, 0}, {-1e300, 1e300, 5, 0}, {nan, nan, nan, nan}};
    const double probe[3] = {1, -2, 150};
    double result[4];
    for (const auto& p : points)
        for (int mode = 0; mode < 3; ++mode)
            map.Correct(mode, p, probe, result);
    (void)map.HasData();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::optional<BnsCipher> key = BnsKeyMaterial::StandIn().FileKey();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    BnsCompMap plain;
    plain.ReadPlain(bytes);
    Exercise(plain);

    if (key) {
        BnsCompMap enciphered;
        enciphered.ReadEnciphered(bytes, *key);
        Exercise(enciphered);
    }
    return 0;
}
