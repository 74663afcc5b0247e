#include "host/qlnrun/QlnrunOptions.h"

#include <QCommandLineParser>
#include <cmath>

#include "common/ProgramHelp.h"
#include "common/ProgramVersion.h"

namespace {

// The part of the help text Qt's parser does not make: what follows the options.
const char kHelpTail[] =
    "\n"
    "Commands on standard input, one per line: read, measure, manual, scan-begin,\n"
    "scan-end, stop, hit-request, readout-state N, setup, quit.\n"
    "\n"
    "Headless, every host event is one line on standard output: init-complete,\n"
    "readout X Y Z W, hit X Y Z I J K W, result ..., mode CODE ON, status ID TEXT,\n"
    "message ID TEXT -> ANSWER.\n"
    "\n"
    "Environment:\n"
    "  SETVAULT_INI       INI file holding the driver's settings.\n"
    "  TACTUS_COM<n>      Device to use for the serial port COM<n>.\n"
    "\n"
    "Exit status: 0 when the session ended normally, 1 when the driver could not be\n"
    "loaded or did not start, 2 for a bad command line or --dir.\n";

// The longest a single Qt timer can wait (just under 2^31 milliseconds).
constexpr double kMaxDurationSeconds = 2000000.0;

bool parseReal(const QString& text, double& value) {
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value);
}

}  // namespace

QlnrunParse ParseQlnrunOptions(const QStringList& arguments, QlnrunOptions& options,
                               QString& error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Loads a machine driver plug-in (the Tactus driver by default) into the host\n"
        "stand-in and runs it, as the host measurement application would: with a\n"
        "window on a display, or headless with one event per line on standard output\n"
        "and commands on standard input."));
    const QCommandLineOption driver(
        QStringLiteral("driver"),
        QStringLiteral("Driver library (default: libTactus.so beside qlnrun, or in the "
                       "product's library folder)."),
        QStringLiteral("PATH"));
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("Working folder with the machine file TACConfigData.xml (default: "
                       "the current folder)."),
        QStringLiteral("DIR"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Print events on stdout, no window (also chosen without a display)."));
    const QCommandLineOption duration(QStringLiteral("duration"),
                                      QStringLiteral("End by itself after this time."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption answer(
        QStringLiteral("answer"),
        QStringLiteral("Answer host message box ID with yes or no (repeatable), for example "
                       "4739=yes to reset the axis counters (headless, it is answered no)."),
        QStringLiteral("ID=yes|no"));
    const QCommandLineOption unit(
        QStringLiteral("unit"),
        QStringLiteral("Host length-unit value (25.4: millimetres, 1: inches)."),
        QStringLiteral("U"));
    const QCommandLineOption tip(QStringLiteral("tip"),
                                 QStringLiteral("Make a tip with this offset the active tip."),
                                 QStringLiteral("X,Y,Z"));
    const QCommandLineOption hitDelivery(
        QStringLiteral("hit-delivery"),
        QStringLiteral("Whether unrequested hits are recorded as manual hits (default 1)."),
        QStringLiteral("0|1"));
    const QCommandLineOption timestamps(
        QStringLiteral("timestamps"),
        QStringLiteral("End every event line with \" @T\", T its monotonic time in seconds."));
    const QCommandLineOption autoHit(
        QStringLiteral("auto-hit"),
        QStringLiteral("A move of DISTANCE host units completes a measurement (default: only "
                       "a touch does)."),
        QStringLiteral("DISTANCE"));
    const QCommandLineOption help = ProgramHelpOption();
    const QCommandLineOption version = ProgramVersionOption();
    parser.addOptions({driver, dir, headless, duration, answer, unit, tip, hitDelivery, timestamps,
                       autoHit, help, version});

    const bool understood = parser.parse(arguments);
    // Help and version win over every other option, even a wrong one.
    if (parser.isSet(help)) {
        error = ProgramHelpText(parser, QStringLiteral("Usage: qlnrun [options]")) +
                QString::fromLatin1(kHelpTail);
        return QlnrunParse::Help;
    }
    if (parser.isSet(version)) {
        error = QString::fromStdString(ProgramVersionText("qlnrun"));
        return QlnrunParse::Version;
    }
    if (!understood) {
        error = parser.errorText();
        return QlnrunParse::Error;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments()[0]);
        return QlnrunParse::Error;
    }

    QlnrunOptions parsed;
    parsed.driverPath = parser.value(driver);
    parsed.directory = parser.value(dir);
    parsed.headless = parser.isSet(headless);
    parsed.timestamps = parser.isSet(timestamps);
    if (parser.isSet(duration)) {
        double seconds = 0.0;
        if (!parseReal(parser.value(duration), seconds) || seconds <= 0.0 ||
            seconds > kMaxDurationSeconds) {
            error = QStringLiteral(
                        "--duration needs a number of seconds above 0 and at most %1, "
                        "not '%2'.")
                        .arg(qint64(kMaxDurationSeconds))
                        .arg(parser.value(duration));
            return QlnrunParse::Error;
        }
        parsed.duration = seconds;
    }
    for (const QString& entry : parser.values(answer)) {
        const qsizetype equals = entry.indexOf(u'=');
        bool ok = false;
        const unsigned id = equals > 0 ? entry.left(equals).trimmed().toUInt(&ok) : 0;
        const QString reply = entry.mid(equals + 1).trimmed().toLower();
        if (!ok || (reply != QLatin1String("yes") && reply != QLatin1String("no"))) {
            error =
                QStringLiteral("--answer takes ID=yes or ID=no (ID a message number), not '%1'.")
                    .arg(entry);
            return QlnrunParse::Error;
        }
        parsed.answers[id] = reply == QLatin1String("yes") ? 6 : 7;
    }
    if (parser.isSet(unit)) {
        double value = 0.0;
        if (!parseReal(parser.value(unit), value) || value <= 0.0) {
            error = QStringLiteral(
                        "--unit needs a length-unit value above 0 (25.4 for "
                        "millimetres, 1 for inches), not '%1'.")
                        .arg(parser.value(unit));
            return QlnrunParse::Error;
        }
        parsed.lengthUnit = value;
    }
    if (parser.isSet(tip)) {
        const QStringList parts = parser.value(tip).split(u',');
        std::array<double, 3> offset{};
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i)
            ok = parseReal(parts[i], offset[size_t(i)]);
        if (!ok) {
            error =
                QStringLiteral("--tip takes three numbers X,Y,Z, not '%1'.").arg(parser.value(tip));
            return QlnrunParse::Error;
        }
        parsed.tip = offset;
    }
    if (parser.isSet(hitDelivery)) {
        const QString value = parser.value(hitDelivery).trimmed();
        if (value != QLatin1String("0") && value != QLatin1String("1")) {
            error = QStringLiteral("--hit-delivery takes 0 or 1, not '%1'.").arg(value);
            return QlnrunParse::Error;
        }
        parsed.hitDelivery = value.toInt();
    }
    if (parser.isSet(autoHit)) {
        double distance = 0.0;
        if (!parseReal(parser.value(autoHit), distance) || distance <= 0.0) {
            error = QStringLiteral("--auto-hit needs a distance above 0 in host units, not '%1'.")
                        .arg(parser.value(autoHit));
            return QlnrunParse::Error;
        }
        parsed.autoHitDistance = distance;
    }
    options = parsed;
    return QlnrunParse::Run;
}
