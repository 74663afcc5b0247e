#include "host/qlnrun/QlnrunOptions.h"

#include <QCommandLineParser>
#include <cmath>

namespace {

const char kUsage[] =
    "Usage: qlnrun [options]\n"
    "Loads a machine driver plug-in into the host stand-in and runs it.\n"
    "\n"
    "  --driver PATH        driver library (default: libTactus.so beside qlnrun)\n"
    "  --dir DIR            working folder with the machine file (default: current)\n"
    "  --headless           print events on stdout, no window (also without a display)\n"
    "  --duration SECONDS   end by itself after this time\n"
    "  --answer ID=yes|no   answer host message box ID (repeatable)\n"
    "  --unit U             host length-unit value (25.4: millimetres, 1: inches)\n"
    "  --tip X,Y,Z          make a tip with this offset the active tip\n"
    "  --hit-delivery 0|1   whether unrequested hits are recorded as manual hits\n"
    "  --timestamps         end every event line with \" @T\", T its monotonic time in s\n"
    "  --help               show this text\n"
    "\n"
    "Commands on stdin, one per line: read, measure, manual, scan-begin, scan-end, stop,\n"
    "hit-request, readout-state N, setup, quit (see docs/qlnrun.md).\n";

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
    const QCommandLineOption driver(QStringLiteral("driver"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption dir(QStringLiteral("dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption duration(QStringLiteral("duration"), QString(),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption answer(QStringLiteral("answer"), QString(), QStringLiteral("ID"));
    const QCommandLineOption unit(QStringLiteral("unit"), QString(), QStringLiteral("U"));
    const QCommandLineOption tip(QStringLiteral("tip"), QString(), QStringLiteral("X,Y,Z"));
    const QCommandLineOption hitDelivery(QStringLiteral("hit-delivery"), QString(),
                                         QStringLiteral("0|1"));
    const QCommandLineOption timestamps(QStringLiteral("timestamps"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    parser.addOptions(
        {driver, dir, headless, duration, answer, unit, tip, hitDelivery, timestamps, help});

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return QlnrunParse::Error;
    }
    if (parser.isSet(help)) {
        error = QString::fromLatin1(kUsage);
        return QlnrunParse::Help;
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
    options = parsed;
    return QlnrunParse::Run;
}
