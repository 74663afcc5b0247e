#pragma once
// A plain tip for tests and the host shell: a name and an offset, both settable.

#include <utility>

#include "host/CQLNtip_data.h"

class HostTip : public CQLNtip_data {
  public:
    HostTip(std::wstring name, double x, double y, double z)
        : name_(std::move(name)), offset_{x, y, z} {}

    std::wstring tipName() const override { return name_; }
    void tipOffset(double xyz[3]) const override {
        xyz[0] = offset_[0];
        xyz[1] = offset_[1];
        xyz[2] = offset_[2];
    }

  private:
    std::wstring name_;
    double offset_[3];
};
