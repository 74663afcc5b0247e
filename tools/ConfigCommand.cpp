// tactus-tool config check [DIR]
//
// Reads DIR/TACConfigData.xml (default: the current directory) with the driver's own reader,
// prints every value the driver would use, marking those that took their default, and every
// problem that would make the driver misbehave: axis codes, transport and channel settings,
// reply formats the reply parser rejects, a position server program that cannot be found.
// Notes (elements the driver does not read, no initialisation sequence) do not count as
// problems. Exit status: 0 no problem, 1 problems found or the file unreadable, 2 bad
// arguments. The machine file is described in docs/machine-file.md.
#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QStringList>
#include <charconv>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "driver/comm/channel/PortSettings.h"
#include "driver/comm/parser/FormatStringParser.h"
#include "driver/comm/parser/XYZParser.h"
#include "driver/core/machine/MachineFileReader.h"
#include "driver/core/machine/StartCommand.h"
#include "tools/Command.h"

namespace {

using namespace machinefile;

constexpr char kUsage[] = "usage: tactus-tool config check [DIR]\n";

// A format that analyses and scans cleanly; stands in for the formats before the one that is
// being tried, so that the tried one keeps its place in the list.
constexpr char kFillerFormat[] = "%lf %lf %lf";

QString W(const std::wstring& text) {
    return QString::fromStdWString(text);
}

QString Text(const std::wstring& text) {
    return text.empty() ? QStringLiteral("(empty)") : W(text);
}

QString Number(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString Boolean(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

class Checker {
  public:
    Checker(const MachineConfig& config, const QString& dir) : c_(config), dir_(dir) {}

    int Run() {
        PrintMisc();
        PrintTexts();
        CheckReplies();
        PrintCommInfo();
        if (!c_.HasInitializationSequence())
            Note(QString("no initialization sequence (the driver logs \"%1\")")
                     .arg(W(kNoInitSequenceLog).trimmed()));
        for (const std::wstring& element : c_.ignoredElements)
            Note(W(element));
        for (const QString& note : notes_)
            Print("note: " + note);
        for (const QString& problem : problems_)
            Print("problem: " + problem);
        Print(problems_.isEmpty() ? QStringLiteral("No problems found.")
                                  : QString("%1 problem(s) found.").arg(problems_.size()));
        return problems_.isEmpty() ? 0 : 1;
    }

  private:
    static void Print(const QString& line) { std::printf("%s\n", line.toLocal8Bit().constData()); }
    void Problem(const QString& text) { problems_.append(text); }
    void Note(const QString& text) { notes_.append(text); }

    static void Value(int indent, const QString& name, const QString& value, bool isDefault,
                      const QString& remark = {}) {
        QString line = QString(indent, ' ') + name + " = " + value;
        if (isDefault)
            line += " (default)";
        if (!remark.isEmpty())
            line += "  [" + remark + "]";
        Print(line);
    }

    bool MiscDefault(const char* name) const { return !c_.misc.fromFile.contains(name); }

    void PrintMisc() {
        const MachineMisc& m = c_.misc;
        Print("Misc");
        Value(2, "cmm (machine name)", Text(m.cmm), false);
        for (const auto& [name, code] :
             {std::pair{kAxisX, m.AxisX}, std::pair{kAxisY, m.AxisY}, std::pair{kAxisZ, m.AxisZ}}) {
            const std::optional<int> axis = MachineAxisOf(code);
            const QString remark = !axis ? QStringLiteral("not an axis code")
                                         : QString("machine axis %1%2")
                                               .arg(*axis)
                                               .arg(ReversesAxis(code) ? ", reversed" : "");
            Value(2, name, QString::number(code), MiscDefault(name), remark);
        }
        for (const std::wstring& problem : AxisCodeProblems(m))
            Problem(W(problem));
        Value(2, kHasJogbox, Boolean(m.HasJogbox), MiscDefault(kHasJogbox));
        Value(2, kHasRotaryTable, Boolean(m.HasRotaryTable), MiscDefault(kHasRotaryTable));
        Value(2, kReadoutButton, Boolean(m.ReadoutButton), MiscDefault(kReadoutButton));
        QString interval;
        if (m.requestIntervalWritten != m.RequestInterval) {
            interval = QString("written %1").arg(m.requestIntervalWritten);
            Problem(QString("RequestInterval = %1 does not fit in 16 bits: the driver polls every "
                            "%2 ms")
                        .arg(m.requestIntervalWritten)
                        .arg(m.RequestInterval));
        }
        if (m.RequestInterval == 0)
            Problem("RequestInterval = 0: the poll timer would run without pause");
        Value(2, kRequestInterval, QString::number(m.RequestInterval),
              MiscDefault(kRequestInterval), interval);
        Value(2, kReverseIJKVector, Boolean(m.ReverseIJKVector), MiscDefault(kReverseIJKVector));
        Value(2, kStartEXE, Text(m.StartEXE), MiscDefault(kStartEXE), StartProgram());
        Value(2, kTransport, Text(m.Transport), MiscDefault(kTransport));
        for (const auto& [name, scale] :
             {std::pair{kScaleX, m.ScaleX}, std::pair{kScaleY, m.ScaleY},
              std::pair{kScaleZ, m.ScaleZ}, std::pair{kScaleW, m.ScaleW}}) {
            Value(2, name, Number(scale), MiscDefault(name));
            if (scale == 0.0)
                Problem(QString("%1 = 0: every reply value is divided by it").arg(name));
        }
        Value(2, kAutoResetCounters, Boolean(m.AutoResetCounters), MiscDefault(kAutoResetCounters));
    }

    // Where the position server program is found, reporting it when it is not.
    QString StartProgram() {
        if (c_.misc.StartEXE.empty())
            return {};
        const StartCommand command = SplitStartCommand(c_.misc.StartEXE);
        const std::wstring found =
            FindStartProgram(command.program, dir_.toStdWString(),
                             QCoreApplication::applicationDirPath().toStdWString());
        if (found.empty()) {
            Problem(QString("StartEXE program '%1' not found (looked in %2, in %3 and on PATH)")
                        .arg(W(command.program), dir_, QCoreApplication::applicationDirPath()));
            return QStringLiteral("program not found");
        }
        return "program " + W(found);
    }

    void PrintTexts() {
        auto text = [&](int indent, const char* name, const std::wstring& value) {
            Value(indent, name, Text(value), !c_.textsFromFile.contains(name));
        };
        text(0, kInitializationSequence, c_.initializationCommand);
        text(0, kHomingSequence, c_.homingCommand);
        Print(kCommands);
        text(2, kTakeHit, c_.commands.TakeHit);
        text(2, kGetPosition, c_.commands.GetPosition);
        text(2, kRotateTable, c_.commands.RotateTable);
        text(2, kManualScan, c_.commands.ManualScan);
        Print(kReplies);
        text(2, kHitReply, c_.replies.HitReply);
        text(2, kPositionReply, c_.replies.PositionReply);
        text(2, kRotateReply, c_.replies.RotateReply);
        text(2, kScanReply, c_.replies.ScanReply);
    }

    // Configures a reply parser as driver start-up does and tries every format the way the
    // parser uses it, reporting the parser's own messages.
    void CheckReplies() {
        const std::wstring list = c_.replies.FormatList();
        Print("Reply parser");
        Value(2, "format list", Text(list), false, QString("%1 characters").arg(list.size()));
        if (!c_.replies.CreatesParser()) {
            Problem(QString("the reply format list has %1 characters (%2 or fewer): no reply "
                            "parser is created and no reply is interpreted")
                        .arg(list.size())
                        .arg(kMinReplyFormatListLength));
            return;
        }
        XYZParser parser;
        if (!Try("reply format list", [&] { parser.SetReplyFormats(list); }))
            return;
        Try("InitializationSequence", [&] { parser.SetInitSequence(c_.initializationCommand); });
        Try("GetPosition", [&] { parser.SetPositionCommands(c_.commands.GetPosition); });
        const std::vector<std::string> formats = parser.GetReplyFormats();
        if (formats.empty()) {
            Problem("the reply format list holds no quoted format: every reply fails");
            return;
        }
        for (std::size_t i = 0; i < formats.size(); ++i) {
            const bool last = formats.size() > 1 && i + 1 == formats.size();
            Value(2, QString("format %1").arg(i + 1), QString::fromLatin1(formats[i]), false,
                  last ? QStringLiteral("positions only") : QStringLiteral("may report a hit"));
            std::string trial;
            for (std::size_t k = 0; k < i; ++k)
                trial += std::string("\"") + kFillerFormat + "\",";
            trial += "\"" + formats[i] + "\"";
            XYZParser single;
            Try(QString("reply format %1").arg(i + 1), [&] {
                single.SetReplyFormats(trial);
                single.Parse("?");  // matches no format, so every format is tried
            });
        }
    }

    template <typename Step>
    bool Try(const QString& what, Step step) {
        try {
            step();
            return true;
        } catch (const XYZParserException& e) {
            Problem(what + ": " + QString::fromLatin1(e.Text()).trimmed());
        } catch (const FormatStringParserException& e) {
            Problem(what + ": " + QString::fromLatin1(e.Text()).trimmed());
        }
        return false;
    }

    void PrintCommInfo() {
        QStringList tags;
        for (const std::wstring& tag : c_.commInfoTags)
            tags.append(W(tag));
        Print("CommInfo (children: " + (tags.isEmpty() ? QStringLiteral("none") : tags.join(", ")) +
              ")");
        CheckTransport(tags);
        for (const CommInfoChild& child : c_.channels)
            std::visit([&](const auto& settings) { PrintChannel(settings); }, child);
    }

    void CheckTransport(const QStringList& tags) {
        const QString transport = W(c_.misc.Transport);
        const QStringList known{kGpib, kSerial, kTcp};
        if (transport.isEmpty()) {
            Problem("Transport is empty: no channel is opened and no machine is reached");
        } else if (transport == kGpib) {
            Problem(
                "Transport GPIB: the driver opens no GPIB channel (start-up fails when "
                "CommInfo has a GPIB child)");
        } else if (!known.contains(transport)) {
            QString hint;
            for (const QString& name : known) {
                if (name.compare(transport, Qt::CaseInsensitive) == 0)
                    hint = QString(" (did you mean %1? names are case-sensitive)").arg(name);
            }
            Problem(QString("Transport '%1' is not GPIB, SERIAL or TCP: no channel is opened%2")
                        .arg(transport, hint));
        } else if (c_.channels.empty()) {
            Problem(QString("Transport %1 matches no CommInfo child: no channel is opened")
                        .arg(transport));
        } else if (c_.channels.size() > 1) {
            Problem(QString("CommInfo has %1 %2 children: each opens a channel, only the last "
                            "is kept")
                        .arg(c_.channels.size())
                        .arg(transport));
        }
    }

    void PrintChannel(const GpibSettings& gpib) {
        Print(QString("  ") + kGpib);
        Value(4, kController, Text(gpib.Controller), !gpib.fromFile.contains(kController));
        Value(4, kJogbox, Text(gpib.Jogbox), !gpib.fromFile.contains(kJogbox));
    }

    void PrintChannel(const SerialSettings& s) {
        auto isDefault = [&](const char* name) { return !s.fromFile.contains(name); };
        const int port = s.PortNumber();
        const char parity = s.ParityLetter();
        Print(QString("  ") + kSerial);
        Value(4, kDevice, Text(s.Device), isDefault(kDevice), QString("port %1").arg(port));
        Value(4, kBaud, QString::number(s.Baud), isDefault(kBaud));
        Value(4, kParity, Text(s.Parity), isDefault(kParity),
              parity ? QString("parity %1").arg(QChar::fromLatin1(parity))
                     : QStringLiteral("the port keeps its parity"));
        Value(4, kStopBits, QString::number(s.StopBits), isDefault(kStopBits));
        Value(4, kSize, QString::number(s.Size), isDefault(kSize));
        Value(4, kTerminator, QString::number(static_cast<unsigned char>(s.Terminator)),
              isDefault(kTerminator), QStringLiteral("serial lines always end at CR"));
        if (port <= 0)
            Problem(QString("Device '%1' gives port %2: name the port COM1, COM2, ...")
                        .arg(W(s.Device))
                        .arg(port));
        const std::string settings = FormatPortSettings(port > 0 ? port : 1, s.Baud,
                                                        parity ? parity : 'N', s.Size, s.StopBits);
        if (!ParsePortSettings(settings))
            Problem(QString("the serial port does not take '%1'").arg(settings.c_str()));
    }

    void PrintChannel(const TcpSettings& tcp) {
        const QString connect = W(tcp.ConnectAddress());
        Print(QString("  ") + kTcp);
        Value(4, kAddress, Text(tcp.address), !tcp.fromFile.contains(kAddress),
              "connects to " + connect);
        Value(4, kPort, QString::number(tcp.port), !tcp.fromFile.contains(kPort));
        if (QHostAddress(connect).protocol() != QAbstractSocket::IPv4Protocol)
            Problem(QString("CMMAddress-IP '%1' is not an IPv4 address such as 192.168.0.10 "
                            "(the channel does no name lookup)")
                        .arg(W(tcp.address)));
        if (tcp.port < 1 || tcp.port > std::numeric_limits<quint16>::max())
            Problem(QString("CMMPort-IP = %1 is not a TCP port").arg(tcp.port));
    }

    const MachineConfig& c_;
    QString dir_;
    QStringList notes_;
    QStringList problems_;
};

int Config(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "check" || args.size() > 2) {
        std::fprintf(stderr, "tactus-tool config: expected 'check [DIR]'\n%s", kUsage);
        return 2;
    }
    int argc = 1;
    char name[] = "tactus-tool";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    const QString dir =
        QDir(args.size() > 1 ? QString::fromLocal8Bit(args[1].c_str()) : QDir::currentPath())
            .absolutePath();
    const QString path = QDir(dir).filePath(W(kFileName));
    std::printf("Machine file %s\n", path.toLocal8Bit().constData());
    const MachineFileResult result = ReadMachineFile(path.toStdWString());
    if (!result.ok) {
        std::printf(
            "problem: the driver cannot read the file (start-up fails with message %u): "
            "%s\n",
            kOpenErrorResource, W(result.error).toLocal8Bit().constData());
        return 1;
    }
    return Checker(result.config, dir).Run();
}

const tool::ToolCommand kConfig(
    "config",
    "config check [DIR]   check DIR/TACConfigData.xml as the driver reads it; list values and "
    "problems",
    Config);

}  // namespace
