#include "driver/core/machine/MachineConfig.h"

#include <QString>
#include <array>
#include <cwchar>
#include <limits>

std::optional<int> MachineAxisOf(int code) {
    if (code < 0 || code > machinefile::kMaxAxisCode)
        return std::nullopt;
    return code / 2;
}

std::vector<std::wstring> AxisCodeProblems(const MachineMisc& misc) {
    struct Axis {
        const char* name;
        int code;
    };
    const std::array<Axis, 3> axes{{{machinefile::kAxisX, misc.AxisX},
                                    {machinefile::kAxisY, misc.AxisY},
                                    {machinefile::kAxisZ, misc.AxisZ}}};
    std::vector<std::wstring> problems;
    for (const Axis& axis : axes) {
        if (!MachineAxisOf(axis.code)) {
            problems.push_back(QString("%1 = %2 is outside 0 to %3")
                                   .arg(axis.name)
                                   .arg(axis.code)
                                   .arg(machinefile::kMaxAxisCode)
                                   .toStdWString());
        }
    }
    for (std::size_t i = 0; i < axes.size(); ++i) {
        for (std::size_t j = i + 1; j < axes.size(); ++j) {
            const std::optional<int> a = MachineAxisOf(axes[i].code);
            if (a && a == MachineAxisOf(axes[j].code)) {
                problems.push_back(QString("%1 and %2 both read machine axis %3")
                                       .arg(axes[i].name, axes[j].name)
                                       .arg(*a)
                                       .toStdWString());
            }
        }
    }
    return problems;
}

int SerialSettings::PortNumber() const {
    if (Device.size() <= machinefile::kPortNumberOffset)
        return 0;
    const long value = std::wcstol(Device.c_str() + machinefile::kPortNumberOffset, nullptr, 10);
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

char SerialSettings::ParityLetter() const {
    if (Parity.empty())
        return 0;
    const wchar_t c = Parity.front();
    return c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
}

std::wstring TcpSettings::ConnectAddress() const {
    const QString upper = QString::fromStdWString(address).toUpper();
    if (upper.contains(QString::fromWCharArray(machinefile::kLocalHostName)))
        return machinefile::kLoopbackAddress;
    return upper.toStdWString();
}

std::wstring MachineReplies::FormatList() const {
    if (PositionReply.empty())
        return HitReply;
    return HitReply + L"," + PositionReply;
}

bool MachineReplies::CreatesParser() const {
    return FormatList().size() > machinefile::kMinReplyFormatListLength;
}
