#include "host/QlnStrings.h"

namespace {

constexpr QlnString kStrings[] = {
    // Start-up and shut-down of a machine driver.
    {561, L"The machine configuration file TACConfigData.xml could not be read."},
    {4739, L"Reset the machine's axis counters before starting?"},
    {5493, L"Communication with the machine could not be started."},
    {5516, L"Machine initialisation complete."},
    {5523, L"Starting the machine driver..."},
    {5531, L"Manual scan: move the probe along the surface."},
    // Volumetric compensation.
    {509, L"Not enough memory for the volumetric compensation."},
    {2252, L"The volumetric compensation could not be loaded; positions are not compensated."},
    {5505, L"The compensation map could not be read."},
    {6068, L"The compensation data file could not be opened."},
    {6066, L"The compensation data file is damaged or has an unknown layout."},
    {6062, L"The machine measures without volumetric compensation."},
    {262, L"Volumetric compensation with grid correction is active."},
    {261, L"No compensation table data: the grid correction is not active."},
    // Machine setup dialog.
    {1663, L"Machine Setup"},
    {1925, L"Communication"},
    {16518, L"None"},
    {5036, L"Even"},
    {5037, L"Mark"},
    {5038, L"Odd"},
    {5039, L"Space"},
    {2182, L"Full"},
    {2183, L"Errors only"},
    {2184, L"Normal"},
    {6063, L"Each of X, Y and Z must use a different machine axis."},
};

}  // namespace

std::span<const QlnString> QlnStringTable() {
    return kStrings;
}
