#pragma once

// The --help and --version options every program of the product offers, and the help text
// they print. Header only; any thread; nothing fails.
//
// Qt's help text starts with "Usage: " and the program as it was invoked (a path, a link);
// the product's help starts with the program's own name instead, because help2man makes the
// man pages from it.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// "-h, --help", or "--help" alone for a program whose own switches may start with "-h".
inline QCommandLineOption ProgramHelpOption(bool withShortName = true) {
    return QCommandLineOption(withShortName
                                  ? QStringList{QStringLiteral("h"), QStringLiteral("help")}
                                  : QStringList{QStringLiteral("help")},
                              QStringLiteral("Show this text and end."));
}

inline QCommandLineOption ProgramVersionOption() {
    return QCommandLineOption(QStringLiteral("version"),
                              QStringLiteral("Show the version and end."));
}

// `usage` (e.g. "Usage: qlnrun [options]") followed by everything of Qt's help text after its
// own usage line.
inline QString ProgramHelpText(const QCommandLineParser& parser, const QString& usage) {
    const QString text = parser.helpText();
    return usage + text.mid(text.indexOf(u'\n'));
}
