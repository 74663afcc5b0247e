#include "server/device/VexSimulator.h"

VexSimulator::~VexSimulator() {
    Close();
    binding_.reset();
}

void VexSimulator::Open(const QString& libraryName) {
    Close();
    binding_.reset();
    auto binding = std::make_unique<SimulatorDllInterface>();
    if (!binding->Load(libraryName))
        throw QString(binding->ErrorText());
    binding->Resolve();
    binding_ = std::move(binding);
}

int VexSimulator::Init(bool /*resetCounters*/) {
    initialised_ = binding_ != nullptr && (binding_->Init() & 0xFF) != 0;
    return initialised_ ? 1 : 0;
}

void VexSimulator::Close() {
    if (initialised_ && binding_ != nullptr)
        binding_->Close();
    initialised_ = false;
}

bool VexSimulator::GetPosition(VexPosition& out) {
    if (binding_ == nullptr || !binding_->Position(&out))
        return false;
    if (history_.Size() == 0 || out != history_.At(0))
        history_.Push(out);
    return true;
}

bool VexSimulator::GetHit(VexPosition& out) {
    const bool hit = binding_ != nullptr && binding_->Hit(&out);
    if (hit)
        lastHit_ = out;
    return hit;
}

VexPosition VexSimulator::GetHitVector() {
    const VexPosition& entry = history_.At(history_.Size() > 1 ? 1 : 0);
    VexPosition v{entry.x - lastHit_.x, entry.y - lastHit_.y, entry.z - lastHit_.z, entry.w};
    v.Normalize();
    return v;
}
