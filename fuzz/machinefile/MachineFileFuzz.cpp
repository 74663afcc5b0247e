// Fuzz target for the machine file reader: any bytes as TACConfigData.xml.
//
// The input is read with ReadMachineText, the reader driver start-up uses, and what start-up
// does next with the values is done too: the channel values are derived (port number,
// parity letter, connect address), the axis codes checked, the StartEXE command line split,
// and the reply-format list and command texts handed to a reply parser, whose own exceptions
// are the only ones allowed out of it. Findings: any crash or memory error, any other
// exception, and any broken promise of the reader (checked with Check below):
//   - a failed read has an error text and all defaults; a good one has no error text;
//   - RequestInterval is the 16-bit form of the value written;
//   - every CommInfo child kept is of the kind Transport names, and was seen among the tags;
//   - the connect address is upper case, or 127.0.0.1 for any spelling of LOCALHOST.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "driver/comm/parser/FormatStringParser.h"
#include "driver/comm/parser/XYZParser.h"
#include "driver/core/machine/MachineFileReader.h"
#include "driver/core/machine/StartCommand.h"

namespace {

void Check(bool condition, const char* promise) {
    if (!condition) {
        std::fprintf(stderr, "machinefile_fuzz: broken promise: %s\n", promise);
        std::abort();
    }
}

bool HasLowerCase(const std::wstring& text) {
    for (wchar_t c : text)
        if (c >= L'a' && c <= L'z')
            return true;
    return false;
}

void CheckChannels(const MachineConfig& config) {
    Check(config.channels.size() <= config.commInfoTags.size(), "more channels than tags");
    for (const CommInfoChild& child : config.channels) {
        if (const auto* tcp = std::get_if<TcpSettings>(&child)) {
            Check(config.misc.Transport == L"TCP", "TCP child kept for another transport");
            const std::wstring address = tcp->ConnectAddress();
            Check(address == L"127.0.0.1" || !HasLowerCase(address),
                  "connect address not upper case");
        } else if (const auto* serial = std::get_if<SerialSettings>(&child)) {
            Check(config.misc.Transport == L"SERIAL", "SERIAL child kept for another transport");
            (void)serial->PortNumber();
            (void)serial->ParityLetter();
        } else {
            Check(config.misc.Transport == L"GPIB", "GPIB child kept for another transport");
        }
    }
}

// What driver start-up does with the texts: a parser with the reply formats, then the two
// command lists and the scales.
void BuildParser(const MachineConfig& config) {
    if (!config.replies.CreatesParser())
        return;
    XYZParser parser;
    try {
        parser.SetReplyFormats(config.replies.FormatList());
    } catch (const XYZParserException&) {
        return;
    } catch (const FormatStringParserException&) {
        return;
    }
    try {
        parser.SetInitSequence(config.initializationCommand);
    } catch (const XYZParserException&) {
    }
    try {
        parser.SetPositionCommands(config.commands.GetPosition);
    } catch (const XYZParserException&) {
    }
    const MachineMisc& misc = config.misc;
    parser.SetScales(misc.ScaleX, misc.ScaleY, misc.ScaleZ, misc.ScaleW);
    parser.SetReverseVector(misc.ReverseIJKVector ? 1 : 0);
    // One reply of the position server through the formats the file gave.
    try {
        parser.Parse("( 1.000000 2.000000 3.000000 4.000000 ) 235\n");
    } catch (const XYZParserException&) {
    } catch (const FormatStringParserException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string xml(reinterpret_cast<const char*>(data), size);
    const MachineFileResult result = ReadMachineText(xml);
    const MachineConfig& config = result.config;
    if (!result.ok) {
        Check(!result.error.empty(), "failed read without an error text");
        Check(config.misc.cmm.empty() && config.channels.empty() && config.commInfoTags.empty() &&
                  config.misc.RequestInterval == machinefile::kDefaultRequestInterval,
              "failed read with values");
        return 0;
    }
    Check(result.error.empty(), "good read with an error text");
    Check(config.misc.RequestInterval ==
              static_cast<std::uint16_t>(config.misc.requestIntervalWritten),
          "RequestInterval is not the 16-bit form of the written value");
    CheckChannels(config);
    for (int code : {config.misc.AxisX, config.misc.AxisY, config.misc.AxisZ}) {
        const std::optional<int> axis = MachineAxisOf(code);
        Check(!axis || (*axis >= 0 && *axis <= 2), "machine axis out of range");
    }
    (void)AxisCodeProblems(config.misc);
    (void)SplitStartCommand(config.misc.StartEXE);
    BuildParser(config);
    return 0;
}
