// libENC7480.so: a stand-in for the ENC7480 encoder card driven by the simulated machine.
//
// Counts are the model's position times the card scale, plus a per-channel offset that
// Enc7480_Set_Encoder adjusts. Status bits 0-3 are set while the probe is deflected; bits
// 8-11 are set when a touch is noticed, together with the counts of the touch point, and
// stay until Enc7480_Reset_Latch_Flag. Every entry point first brings the card up to the
// model's current time, so a touch latches the offsets in force when it happened as long
// as the card is called at least once between a touch and a later Set_Encoder. The
// configuration calls are recorded and change nothing. Counters wrap at 32 bits like the
// card's. All entry points take one lock, so concurrent callers are safe.

#include <array>
#include <cmath>
#include <mutex>

#include "sim/SimSession.h"
#include "sim/include/enc7480.h"
#include "sim/include/vexsim_control.h"

namespace {

constexpr uint32_t kTriggerBits = 0x000F;
constexpr uint32_t kLatchBits = 0x0F00;
constexpr uint16_t kChannels = 4;

struct Card {
    std::mutex mutex;
    vexsim::SimSession session;
    std::array<uint32_t, kChannels> offset{};   // added to the model's counts
    std::array<uint32_t, kChannels> latched{};  // counts captured at the last touch
    bool latch = false;
    uint64_t touchesSeen = 0;

    // Recorded configuration; the simulated card counts the same whatever they say.
    std::array<uint16_t, kChannels> countMode{};
    std::array<uint16_t, kChannels> ezEnable{};
    std::array<uint16_t, kChannels> ezLevel{};
    uint16_t triggerLogic = 0;
    uint16_t triggerChannel = 1;
    uint16_t outPort = 0;
    uint16_t led = 0;
};

// Never destroyed: the server may call Enc7480_Close from its own static destructors,
// after this library's would have run.
Card& TheCard() {
    static Card* card = new Card;
    return *card;
}

uint32_t ModelCounts(const vexsim::Pose& p, uint16_t channel, const vexsim::CardScale& s) {
    double counts = 0.0;
    switch (channel) {
        case 0:
            counts = p.x * s[0];
            break;
        case 1:
            counts = p.y * s[1];
            break;
        case 2:
            counts = p.z * s[2];
            break;
        default:
            counts = p.w / 360.0 * s[3];
            break;
    }
    // Coordinates are limited by the script parser, so the count fits 64 bits; the card
    // keeps its low 32.
    return static_cast<uint32_t>(static_cast<int64_t>(std::llround(counts)));
}

// Catches up with the model: latches the newest touch made since the last call.
void Advance(Card& card) {
    const vexsim::MachineModel& model = card.session.model();
    const uint64_t touches = card.session.TouchesSoFar();
    if (touches > card.touchesSeen) {
        const vexsim::MachineModel::Touch touch = model.TouchNo(touches - 1);
        for (uint16_t c = 0; c < kChannels; ++c) {
            card.latched[c] = ModelCounts(touch.pose, c, card.session.scale()) + card.offset[c];
        }
        card.latch = true;
        card.touchesSeen = touches;
        card.session.LogTouches(touches);
    }
}

// Runs f(card) under the lock when the card is open; otherwise returns `closed`.
template <typename R, typename F>
R WithOpenCard(R closed, F f) {
    Card& card = TheCard();
    std::lock_guard lock(card.mutex);
    if (!card.session.IsRunning()) {
        return closed;
    }
    Advance(card);
    return f(card);
}

template <typename F>
void WithCard(F f) {
    Card& card = TheCard();
    std::lock_guard lock(card.mutex);
    f(card);
}

}  // namespace

extern "C" {

int Enc7480_Init(void) {
    vexsim::LogCall("Enc7480_Init");
    Card& card = TheCard();
    std::lock_guard lock(card.mutex);
    card.offset = {};
    card.latched = {};
    card.latch = false;
    card.touchesSeen = 0;
    return card.session.Start() ? 1 : 0;
}

void Enc7480_Close(void) {
    vexsim::LogCall("Enc7480_Close");
    WithCard([](Card& card) { card.session.Stop(); });
}

int32_t Enc7480_Get_Encoder(uint16_t channel) {
    return WithOpenCard(int32_t{0}, [channel](Card& card) {
        if (channel >= kChannels) {
            return int32_t{0};
        }
        const vexsim::Pose pose = card.session.model().At(card.session.Now()).pose;
        return static_cast<int32_t>(ModelCounts(pose, channel, card.session.scale()) +
                                    card.offset[channel]);
    });
}

void Enc7480_Set_Encoder(uint16_t channel, int32_t value) {
    vexsim::LogCall("Enc7480_Set_Encoder");
    WithOpenCard(0, [channel, value](Card& card) {
        if (channel < kChannels) {
            const vexsim::Pose pose = card.session.model().At(card.session.Now()).pose;
            card.offset[channel] =
                static_cast<uint32_t>(value) - ModelCounts(pose, channel, card.session.scale());
        }
        return 0;
    });
}

int32_t Enc7480_Get_LatchValue(uint16_t channel) {
    return WithOpenCard(int32_t{0}, [channel](Card& card) {
        return channel < kChannels ? static_cast<int32_t>(card.latched[channel]) : int32_t{0};
    });
}

void Enc7480_Count_Config(uint16_t channel, uint16_t mode) {
    WithCard([=](Card& card) {
        if (channel < kChannels) {
            card.countMode[channel] = mode;
        }
    });
}

void Enc7480_Write_OutBit(uint16_t bit, uint16_t value) {
    WithCard([=](Card& card) {
        if (bit < 16) {
            const uint16_t mask = static_cast<uint16_t>(1u << bit);
            card.outPort =
                static_cast<uint16_t>(value != 0 ? card.outPort | mask : card.outPort & ~mask);
        }
    });
}

void Enc7480_Write_OutPort(uint16_t value) {
    WithCard([=](Card& card) { card.outPort = value; });
}

uint16_t Enc7480_Read_OutPort(void) {
    Card& card = TheCard();
    std::lock_guard lock(card.mutex);
    return card.outPort;
}

uint16_t Enc7480_Read_InPort(void) {
    return 0;
}

void Enc7480_Set_Triger_Logic(uint16_t logic) {
    WithCard([=](Card& card) { card.triggerLogic = logic; });
}

void Enc7480_Triger_Chunnel(uint16_t cardNo, uint16_t channel) {
    WithCard([=](Card& card) {
        if (cardNo == 0) {
            card.triggerChannel = channel;
        }
    });
}

void Enc7480_Set_EZ_Logic(uint16_t channel, uint16_t enable, uint16_t level) {
    WithCard([=](Card& card) {
        if (channel < kChannels) {
            card.ezEnable[channel] = enable;
            card.ezLevel[channel] = level;
        }
    });
}

uint32_t Enc7480_Read_Latch_Status(uint16_t cardNo) {
    return WithOpenCard(uint32_t{0}, [cardNo](Card& card) {
        if (cardNo != 0) {
            return uint32_t{0};
        }
        const bool deflected = card.session.model().At(card.session.Now()).deflected;
        return (deflected ? kTriggerBits : 0u) | (card.latch ? kLatchBits : 0u);
    });
}

void Enc7480_Reset_Latch_Flag(uint16_t cardNo) {
    WithOpenCard(0, [cardNo](Card& card) {
        if (cardNo == 0) {
            card.latch = false;
        }
        return 0;
    });
}

void Enc7480_Reset_Cls_Flag(uint16_t cardNo) {}

void Enc7480_Led_Logic(uint16_t value) {
    WithCard([=](Card& card) { card.led = value; });
}

// Stand-in extras (sim/include/vexsim_control.h).

void VexSim_SetTime(double seconds) {
    WithOpenCard(0, [=](Card& card) {
        card.session.SetTime(seconds);
        return 0;
    });
}

double VexSim_Now(void) {
    return WithOpenCard(0.0, [](Card& card) { return card.session.Now(); });
}

uint32_t VexSim_TouchCount(void) {
    return WithOpenCard(
        uint32_t{0}, [](Card& card) { return static_cast<uint32_t>(card.session.TouchesSoFar()); });
}

double VexSim_LastTouchTime(void) {
    return WithOpenCard(-1.0, [](Card& card) { return card.session.LastTouchMonotonic(); });
}

}  // extern "C"
