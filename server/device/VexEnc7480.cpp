#include "server/device/VexEnc7480.h"

#include <cmath>

namespace {

constexpr uint16_t kCard = 0;
constexpr uint16_t kChannels = 4;
constexpr uint32_t kTriggerBits = 0x000F;
constexpr uint32_t kLatchBits = 0x0F00;

}  // namespace

VexEnc7480::~VexEnc7480() {
    if (initialised_ != 0)
        Close();
    binding_.reset();
}

void VexEnc7480::Open(const QString& libraryName) {
    // An initialised card is closed through the library that opened it before that
    // library goes away; the new library must be initialised again.
    if (initialised_ != 0)
        Close();
    binding_.reset();
    auto binding = std::make_unique<Enc7480DllInterface>();
    if (!binding->Load(libraryName))
        throw QString(binding->ErrorText());
    // A partly bound library is dropped with the exception, so nothing can call an
    // entry point that was never found.
    binding->Resolve();
    binding_ = std::move(binding);
}

int VexEnc7480::Init(bool resetCounters) {
    if (binding_ == nullptr) {
        initialised_ = 0;
        return 0;
    }
    initialised_ = binding_->Enc7480_Init();
    if (initialised_ == 0)
        return 0;
    binding_->Enc7480_Triger_Chunnel(kCard, static_cast<uint16_t>(settings_.triggerChannel));
    binding_->Enc7480_Set_Triger_Logic(static_cast<uint16_t>(settings_.triggerLogic));
    for (uint16_t channel = 0; channel < kChannels; ++channel)
        binding_->Enc7480_Set_EZ_Logic(channel, static_cast<uint16_t>(settings_.indexPulseEnable),
                                       static_cast<uint16_t>(settings_.indexPulseLevel));
    binding_->Enc7480_Reset_Cls_Flag(kCard);
    binding_->Enc7480_Reset_Latch_Flag(kCard);
    if (resetCounters) {
        for (uint16_t channel = 0; channel < kChannels; ++channel)
            binding_->Enc7480_Set_Encoder(channel, 0);
    }
    for (uint16_t channel = 0; channel < kChannels; ++channel)
        binding_->Enc7480_Count_Config(channel, static_cast<uint16_t>(settings_.countMode));
    return initialised_;
}

void VexEnc7480::Close() {
    if (binding_ != nullptr)
        binding_->Enc7480_Close();
    // A closed card is not polled again, nor closed a second time on destruction.
    initialised_ = 0;
}

bool VexEnc7480::GetPosition(VexPosition& out) {
    if (initialised_ == 0 || binding_ == nullptr)
        return false;
    int32_t counts[kChannels];
    for (uint16_t channel = 0; channel < kChannels; ++channel)
        counts[channel] = binding_->Enc7480_Get_Encoder(channel);
    out = CountsToPosition(counts);
    history_.Push(out);
    return true;
}

bool VexEnc7480::GetHit(VexPosition& out) {
    if (initialised_ == 0 || binding_ == nullptr)
        return false;
    const uint32_t status = binding_->Enc7480_Read_Latch_Status(kCard);
    lastStatus_ = static_cast<int>(status);
    if ((status & kTriggerBits) == 0) {
        armed_ = true;
        binding_->Enc7480_Reset_Latch_Flag(kCard);
        return false;
    }
    if ((status & kLatchBits) == 0 || !armed_)
        return false;
    int32_t counts[kChannels];
    for (uint16_t channel = 0; channel < kChannels; ++channel)
        counts[channel] = binding_->Enc7480_Get_LatchValue(channel);
    out = CountsToPosition(counts);
    lastHit_ = out;
    armed_ = false;
    binding_->Enc7480_Reset_Latch_Flag(kCard);
    return true;
}

VexPosition VexEnc7480::GetHitVector() {
    // The newest history entry is the last position polled before the hit was seen;
    // the search starts vectorDepth polls back and moves to older entries until one
    // lies at least vectorSensitivity away from the hit.
    const int n = history_.Size();
    const VexPosition& hit = lastHit_;
    VexPosition result;
    for (int i = settings_.vectorDepth < n ? settings_.vectorDepth : n - 1; i < n; ++i) {
        const VexPosition& entry = history_.At(i);
        result = VexPosition{entry.x - hit.x, entry.y - hit.y, entry.z - hit.z, entry.w};
        const double length =
            std::sqrt(result.x * result.x + result.y * result.y + result.z * result.z);
        if (length >= settings_.vectorSensitivity) {
            result.Normalize();
            return result;
        }
    }
    return result;
}

void VexEnc7480::SetSettings(const Enc7480Settings& settings) {
    settings_ = settings;
    for (int32_t* divisor :
         {&settings_.xCountsPerMm, &settings_.yCountsPerMm, &settings_.zCountsPerMm}) {
        if (*divisor == 0)
            *divisor = Enc7480Settings::kDefaultCountsPerMm;
    }
    if (settings_.wCountsPerTurn == 0)
        settings_.wCountsPerTurn = Enc7480Settings::kDefaultCountsPerTurn;
}

VexPosition VexEnc7480::CountsToPosition(const int32_t (&counts)[4]) const {
    return VexPosition{
        static_cast<double>(counts[0]) / static_cast<double>(settings_.xCountsPerMm),
        static_cast<double>(counts[1]) / static_cast<double>(settings_.yCountsPerMm),
        static_cast<double>(counts[2]) / static_cast<double>(settings_.zCountsPerMm),
        static_cast<double>(counts[3]) / static_cast<double>(settings_.wCountsPerTurn) * 360.0};
}
