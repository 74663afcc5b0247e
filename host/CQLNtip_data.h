#pragma once
// A probe tip as the host describes it to a driver. The host owns every tip; a driver only
// holds the pointer for the duration of a call and reads it through the tip services
// (QlnTipName, QlnTipOffset), never by itself keeping it.

#include <string>

class CQLNtip_data {
  public:
    virtual ~CQLNtip_data() = default;

    // Name shown in the host and in driver log lines.
    virtual std::wstring tipName() const = 0;
    // Offset of the tip centre from the probe reference point, in host length units.
    virtual void tipOffset(double xyz[3]) const = 0;
};
