#include "server/app/HelpAndVersion.h"

#include <QCommandLineParser>
#include <cstdio>

#include "common/ProgramHelp.h"
#include "common/ProgramVersion.h"
#include "server/config/ServerConfigNames.h"

namespace {

// No -h: the server's own switches start with / or - and are matched by their letters.
const QCommandLineOption& HelpOption() {
    static const QCommandLineOption option = ProgramHelpOption(false);
    return option;
}

const QCommandLineOption& VersionOption() {
    static const QCommandLineOption option = ProgramVersionOption();
    return option;
}

// What Qt's parser does not list: the environment and the files.
constexpr char kEnvironmentAndFiles[] =
    "\n"
    "Environment:\n"
    "  VEX_DEVICE_LIBRARY_DIR  Folder to load the device library from, in place of\n"
    "                          DeviceLibraryFolder in VEX.XML. Without either, the\n"
    "                          library is looked for in LD_LIBRARY_PATH and then by the\n"
    "                          system's library search, so an installed card library is\n"
    "                          found.\n"
    "  VEXSIM_SCRIPT           Motion script of the simulated machine (stand-in\n"
    "                          libraries only).\n"
    "  QT_QPA_PLATFORM         Qt platform; without a display VexServer uses offscreen\n"
    "                          by itself and writes its message boxes to standard error.\n"
    "\n"
    "Files:\n"
    "  VEX.XML                 Server settings, read from the working directory: device\n"
    "                          (INTERFACE), TCPPortNumber, WINDOW_HIDE_SHOW, POLL_TIME,\n"
    "                          BindAddress, DeviceLibraryFolder. See VEX.XML(5).\n"
    "  VEXENC7480.XML          Settings of the ENC7480 encoder card.\n"
    "  /etc/vexline/           Working directory of the vexserver service.\n"
    "\n"
    "Exit status: 0 when the window or a client's EXI ended the server, 1 when start-up\n"
    "failed.\n";

void Configure(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Serves the position and the probe hits of a hand-driven coordinate measuring\n"
        "machine to one TCP client at a time (normally the Tactus driver). It reads\n"
        "the four axis encoders through the ENC7480 card library or the simulator\n"
        "library and shows a small window, or runs hidden. On a successful start it\n"
        "writes one line to standard error: its version, the interface, the library\n"
        "it loaded and the address and port it listens on."));
    parser.addOption(HelpOption());
    parser.addOption(VersionOption());
    parser.addPositionalArgument(
        QStringLiteral("/R"),
        QStringLiteral("Zero the four card counters when the card is opened (also -r,\n"
                       "-reset: any switch starting with / or - whose first letter is\n"
                       "R or r). Every other switch or word is ignored."),
        QStringLiteral("[/R]"));
}

}  // namespace

QString VexServerHelpText() {
    QCommandLineParser parser;
    Configure(parser);
    return ProgramHelpText(parser, QStringLiteral("Usage: VexServer [--help] [--version] [/R]")) +
           QString::fromLatin1(kEnvironmentAndFiles);
}

std::optional<int> AnswerHelpOrVersion(const QStringList& arguments) {
    QCommandLineParser parser;
    Configure(parser);
    // The server's own switches are unknown to this parser; that is not an error here.
    parser.parse(arguments);
    if (parser.isSet(HelpOption())) {
        std::fputs(VexServerHelpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(VersionOption())) {
        std::fputs(ProgramVersionText("VexServer").c_str(), stdout);
        return 0;
    }
    return std::nullopt;
}
