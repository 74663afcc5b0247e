#pragma once
// The command line of tactus-ipp (docs/ipp.md), read with QCommandLineParser.
//
//   tactus-ipp [--dir DIR] [--driver PATH] [--address ADDR] [--port N] [--tools FILE]
//              [--log FILE] [--answer ID=yes|no]...
//
// Plain value type; parsing reports a bad command line as a text for the user. Relative
// paths stay as given: main() resolves them against the folder tactus-ipp was started in.

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <map>

struct IppOptions {
    static constexpr quint16 kDefaultPort = 1294;  // the I++ DME port (section 6.1)

    QString directory;   // empty: the current folder
    QString driverPath;  // empty: libTactus.so beside tactus-ipp
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = kDefaultPort;
    QString toolsFile;                // empty: IppTools.txt in the folder, when there is one
    QString logFile;                  // empty: no session log
    std::map<unsigned, int> answers;  // message box number -> 6 (Yes) or 7 (No)
};

enum class IppParse { Run, Help, Version, Error };

// `text` receives the help or version text, or the reason of an error.
IppParse ParseIppOptions(const QStringList& arguments, IppOptions& options, QString& text);
