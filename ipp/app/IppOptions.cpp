#include "ipp/app/IppOptions.h"

#include <QCommandLineParser>

#include "common/ProgramHelp.h"
#include "common/ProgramVersion.h"

IppParse ParseIppOptions(const QStringList& arguments, IppOptions& options, QString& text) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "I++ DME server for a manually driven CMM: hosts the Tactus driver and serves one\n"
        "I++ DME client at a time (docs/ipp.md)."));
    const QCommandLineOption help = ProgramHelpOption();
    const QCommandLineOption version = ProgramVersionOption();
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("Folder with the machine file TACConfigData.xml (default: current)."),
        QStringLiteral("DIR"));
    const QCommandLineOption driver(
        QStringLiteral("driver"),
        QStringLiteral("Driver library (default: libTactus.so beside tactus-ipp, else in the "
                       "product's library folder)."),
        QStringLiteral("PATH"));
    const QCommandLineOption address(
        QStringLiteral("address"),
        QStringLiteral("Address to listen on (default: 127.0.0.1, this computer only; "
                       "0.0.0.0 for every network)."),
        QStringLiteral("ADDR"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port to listen on (default: 1294)."),
                                  QStringLiteral("N"));
    const QCommandLineOption tools(
        QStringLiteral("tools"),
        QStringLiteral("Tools file (default: IppTools.txt in the folder, if there is one)."),
        QStringLiteral("FILE"));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Record every session's lines, both ways, with times, in FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption answer(
        QStringLiteral("answer"),
        QStringLiteral("Answer the driver's Yes/No message box ID, e.g. 4739=no to keep the "
                       "axis counters (repeatable)."),
        QStringLiteral("ID=yes|no"));
    parser.addOptions({dir, driver, address, port, tools, log, answer, help, version});

    if (!parser.parse(arguments)) {
        text = parser.errorText();
        return IppParse::Error;
    }
    if (parser.isSet(help)) {
        text = ProgramHelpText(parser, QStringLiteral("Usage: tactus-ipp [options]"));
        return IppParse::Help;
    }
    if (parser.isSet(version)) {
        text = QString::fromStdString(ProgramVersionText("tactus-ipp"));
        return IppParse::Version;
    }
    if (!parser.positionalArguments().isEmpty()) {
        text = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments()[0]);
        return IppParse::Error;
    }

    IppOptions parsed;
    parsed.directory = parser.value(dir);
    parsed.driverPath = parser.value(driver);
    parsed.toolsFile = parser.value(tools);
    parsed.logFile = parser.value(log);
    if (parser.isSet(address)) {
        const QString value = parser.value(address).trimmed();
        if (value == QLatin1String("localhost"))
            parsed.address = QHostAddress(QHostAddress::LocalHost);
        else if (!parsed.address.setAddress(value)) {
            text = QStringLiteral("--address takes an IP address such as 127.0.0.1, not '%1'.")
                       .arg(value);
            return IppParse::Error;
        }
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const uint value = parser.value(port).trimmed().toUInt(&ok);
        if (!ok || value > 65535) {
            text = QStringLiteral("--port takes a port number 0..65535, not '%1'.")
                       .arg(parser.value(port));
            return IppParse::Error;
        }
        parsed.port = quint16(value);
    }
    for (const QString& entry : parser.values(answer)) {
        const qsizetype equals = entry.indexOf(u'=');
        bool ok = false;
        const unsigned id = equals > 0 ? entry.left(equals).trimmed().toUInt(&ok) : 0;
        const QString reply = entry.mid(equals + 1).trimmed().toLower();
        if (!ok || (reply != QLatin1String("yes") && reply != QLatin1String("no"))) {
            text = QStringLiteral(
                       "--answer takes ID=yes or ID=no (ID a message number), not "
                       "'%1'.")
                       .arg(entry);
            return IppParse::Error;
        }
        parsed.answers[id] = reply == QLatin1String("yes") ? 6 : 7;
    }
    options = parsed;
    return IppParse::Run;
}
