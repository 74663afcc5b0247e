// tactus-tool config check [DIR] [--host PROGRAM] [--sample LINE]...
//
// Reads DIR/TACConfigData.xml (default: the current directory) with the driver's own reader,
// prints every value the driver would use, marking those that took their default, and every
// problem that would make the driver misbehave: axis codes, scales, transport and channel
// settings (down to the serial device and whether it opens), reply formats the reply parser
// rejects, sample replies it would not understand, a position server program that the
// driver would not find from the host program's folder. Notes (elements the driver does not
// read, no initialisation sequence) do not count as problems. Exit status: 0 no problem, 1
// problems found or the file unreadable, 2 bad arguments. The machine file is described in
// docs/machine-file.md.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>
#include <QStringList>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "common/SessionRecording.h"
#include "driver/comm/channel/PortSettings.h"
#include "driver/comm/channel/SerialPort.h"
#include "driver/comm/parser/FormatStringParser.h"
#include "driver/comm/parser/XYZParser.h"
#include "driver/core/driver/DriverTexts.h"
#include "driver/core/machine/MachineFileReader.h"
#include "driver/core/machine/StartCommand.h"
#include "tools/Command.h"
#include "tools/CommandLine.h"
#include "tools/TerminalDevice.h"

namespace {

using namespace machinefile;

constexpr char kSynopsis[] = "config check [DIR] [--host PROGRAM] [--sample LINE]...";
// The host program whose folder the driver searches for StartEXE, unless --host names one.
constexpr char kDefaultHost[] = "qlnrun";
// Below this a scale turns every reply into nonsense or infinity (it divides the value).
constexpr double kSmallestScale = 1e-9;

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

struct CheckOptions {
    QString dir;
    QString hostDir;   // folder of the host program; empty when unknown
    QString hostNote;  // how the host program was found, or why not
    std::vector<QByteArray> samples;
};

class Checker {
  public:
    Checker(const MachineConfig& config, const CheckOptions& options)
        : c_(config), o_(options), dir_(options.dir) {}

    int Run() {
        PrintMisc();
        PrintTexts();
        CheckReplies();
        TrySamples();
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
            else if (std::fabs(scale) < kSmallestScale)
                Problem(QString("%1 = %2 is below %3 in magnitude: every reply value is divided "
                                "by it, and points come out huge or infinite")
                            .arg(name, Number(scale), Number(kSmallestScale)));
        }
        Value(2, kAutoResetCounters, Boolean(m.AutoResetCounters), MiscDefault(kAutoResetCounters));
    }

    // Where the driver finds the position server program: in DIR (the host's current
    // directory), then in the host program's folder, then on PATH; reported when it is not.
    QString StartProgram() {
        if (c_.misc.StartEXE.empty())
            return {};
        const StartCommand command = SplitStartCommand(c_.misc.StartEXE);
        const std::wstring found =
            FindStartProgram(command.program, dir_.toStdWString(), o_.hostDir.toStdWString());
        if (!o_.hostNote.isEmpty())
            Note(o_.hostNote);
        if (found.empty()) {
            const QString places = o_.hostDir.isEmpty()
                                       ? QString("in %1 and on PATH").arg(dir_)
                                       : QString("in %1, in %2 and on PATH").arg(dir_, o_.hostDir);
            Problem(QString("StartEXE program '%1' not found (looked %2)")
                        .arg(W(command.program), places));
            return QStringLiteral("program not found");
        }
        return "program " + W(found);
    }

    // Each --sample line through a parser set up as driver start-up sets it up, in order (a
    // multi-line format collects several samples), as the driver's line step sees it.
    void TrySamples() {
        if (o_.samples.empty())
            return;
        XYZParser parser;
        // A list the parser rejects has been reported above; the samples then go unparsed.
        bool ready = c_.replies.CreatesParser();
        try {
            if (ready)
                parser.SetReplyFormats(c_.replies.FormatList());
        } catch (const XYZParserException&) {
            ready = false;
        } catch (const FormatStringParserException&) {
            ready = false;
        }
        const MachineMisc& m = c_.misc;
        parser.SetScales(m.ScaleX, m.ScaleY, m.ScaleZ, m.ScaleW);
        parser.SetVectorDivide(0);
        parser.SetReverseVector(m.ReverseIJKVector ? 1 : 0);
        for (std::size_t i = 0; i < o_.samples.size(); ++i) {
            const QByteArray& sample = o_.samples[i];
            const QString name = QString("sample %1").arg(i + 1);
            const QString shown = QString::fromLatin1(sessionrec::Escape(sample));
            QString remark;
            if (sample.startsWith(drivertext::kVersionLinePrefix)) {
                remark = QStringLiteral("the server's greeting: logged, not parsed");
            } else if (sample.startsWith(drivertext::kHitNoticePrefix)) {
                remark = QStringLiteral("a hit notice: the driver asks for the hit");
            } else if (!ready) {
                remark = QStringLiteral("no reply parser: ignored");
                Problem(name + " '" + shown + "' cannot be understood: there is no reply parser");
            } else if (Try(name, [&] { parser.Parse(sample.toStdString()); })) {
                remark = Understood(parser, name, shown);
            } else {
                remark = QStringLiteral("rejected by the reply parser");
            }
            Value(2, name, shown, false, remark);
        }
    }

    QString Understood(const XYZParser& parser, const QString& name, const QString& shown) {
        const auto p = parser.GetParsedPosition();
        const auto v = parser.GetParsedVector();
        const QString point = QString("%1 %2 %3 %4")
                                  .arg(p[0], 0, 'f', 6)
                                  .arg(p[1], 0, 'f', 6)
                                  .arg(p[2], 0, 'f', 6)
                                  .arg(p[3], 0, 'f', 6);
        const QString vector =
            QString("%1 %2 %3").arg(v[0], 0, 'f', 6).arg(v[1], 0, 'f', 6).arg(v[2], 0, 'f', 6);
        if (c_.misc.ReadoutButton)
            return "position " + point + " or, while the readout button is held, a hit";
        if (parser.IsHit())
            return "hit " + point + " vector " + vector;
        if (parser.IsComplete())
            return "position " + point;
        Problem(name + " '" + shown +
                "' is neither a hit nor a complete position for these reply formats: the driver "
                "ignores it");
        return QStringLiteral("not understood");
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
            QString hint;
            for (const QString& tag : tags) {
                if (tag.compare(transport, Qt::CaseInsensitive) == 0)
                    hint = QString(
                               " (CommInfo has %1, which differs only in letter case: names "
                               "are case-sensitive)")
                               .arg(tag);
            }
            Problem(QString("Transport %1 matches no CommInfo child: no channel is opened%2")
                        .arg(transport, hint));
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
        const std::string device = SerialPort::DevicePath(port);
        Print(QString("  ") + kSerial);
        Value(4, kDevice, Text(s.Device), isDefault(kDevice),
              device.empty() ? QString("port %1").arg(port)
                             : QString("port %1, device %2").arg(port).arg(device.c_str()));
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
        if (!SerialPort::SupportsBaudRate(s.Baud))
            Problem(QString("Baud %1 is not a rate the serial port can be set to (standard rates "
                            "such as 9600, 19200, 38400, 57600, 115200): opening it fails")
                        .arg(s.Baud));
        if (!device.empty()) {
            const QString redirect = QString("TACTUS_COM%1").arg(port);
            if (const auto problem = tool::TerminalDeviceProblem(device))
                Problem(QString("%1 is %2 for the driver (%3 in the host's environment names "
                                "another device): %4")
                            .arg(W(s.Device), device.c_str(), redirect, *problem));
        }
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
    const CheckOptions& o_;
    QString dir_;
    QStringList notes_;
    QStringList problems_;
};

// The folder of the host program: PROGRAM as a path, or found beside tactus-tool or on
// PATH. Empty, with a note saying so, when it is not found.
QString HostFolder(const QString& program, QString* note) {
    QString path;
    if (program.contains(u'/'))
        path =
            QFileInfo(program).isExecutable() ? QFileInfo(program).absoluteFilePath() : QString();
    else
        path = QStandardPaths::findExecutable(program, {QCoreApplication::applicationDirPath()});
    if (path.isEmpty() && !program.contains(u'/'))
        path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        *note = QString(
                    "host program '%1' not found: StartEXE looked for in DIR and on PATH only "
                    "(name the host program with --host)")
                    .arg(program);
        return {};
    }
    *note = QString("host program %1: a bare StartEXE name is looked for in its folder after DIR")
                .arg(path);
    return QFileInfo(path).absolutePath();
}

int Config(const std::vector<std::string>& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads DIR/TACConfigData.xml with the driver's own reader and prints every value the\n"
        "driver will use ('(default)' after those the file does not set), then a 'note:' line\n"
        "for harmless findings and a 'problem:' line for everything that would fail or\n"
        "misbehave at run time."));
    parser.addPositionalArgument(QStringLiteral("check"), QStringLiteral("The only action."));
    parser.addPositionalArgument(QStringLiteral("DIR"),
                                 QStringLiteral("Folder of the machine file (default: the current "
                                                "one), the host's current directory."),
                                 QStringLiteral("[DIR]"));
    const QCommandLineOption host(QStringLiteral("host"),
                                  QStringLiteral("The host program that loads the driver; its "
                                                 "folder is searched for StartEXE (default "
                                                 "qlnrun)."),
                                  QStringLiteral("PROGRAM"), QString::fromLatin1(kDefaultHost));
    const QCommandLineOption sample(
        QStringLiteral("sample"),
        QStringLiteral("A reply line to try with the reply formats, escaped as in a recording "
                       "(\\r \\n \\t \\\\ \\xHH); repeat for several lines, in order."),
        QStringLiteral("LINE"));
    parser.addOption(host);
    parser.addOption(sample);
    if (const auto status = tool::ParseArguments(
            parser, "config", kSynopsis, args,
            QStringLiteral("Exit status: 0 no problem found, 1 problems found or the file cannot "
                           "be read, 2 bad\narguments. See docs/machine-file.md.")))
        return *status;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional[0] != "check" || positional.size() > 2)
        return tool::UsageError("config", QStringLiteral("expected 'check [DIR]'"), kSynopsis);

    CheckOptions options;
    for (const QString& text : parser.values(sample)) {
        const auto bytes = sessionrec::Unescape(text.toLocal8Bit());
        if (!bytes)
            return tool::UsageError("config", "malformed escape in --sample '" + text + "'",
                                    kSynopsis);
        options.samples.push_back(*bytes);
    }
    options.dir = QDir(positional.size() > 1 ? positional[1] : QDir::currentPath()).absolutePath();
    options.hostDir = HostFolder(parser.value(host), &options.hostNote);
    const QString path = QDir(options.dir).filePath(W(kFileName));
    std::printf("Machine file %s\n", path.toLocal8Bit().constData());
    const MachineFileResult result = ReadMachineFile(path.toStdWString());
    if (!result.ok) {
        std::printf(
            "problem: the driver cannot read the file (start-up fails with message %u): "
            "%s\n",
            kOpenErrorResource, W(result.error).toLocal8Bit().constData());
        return 1;
    }
    return Checker(result.config, options).Run();
}

const tool::ToolCommand kConfig("config", {kSynopsis,
                                           "Check DIR/TACConfigData.xml as the driver reads it: "
                                           "values and problems.",
                                           nullptr, Config});

}  // namespace
