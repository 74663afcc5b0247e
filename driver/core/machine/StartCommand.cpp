#include "driver/core/machine/StartCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

QString Executable(const QString& path) {
    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable())
        return info.absoluteFilePath();
    return {};
}

QString Find(const QString& program, const QString& currentDir, const QString& programDir) {
    if (program.isEmpty())
        return {};
    if (program.contains('/'))
        return Executable(QDir(currentDir).absoluteFilePath(program));
    for (const QString& dir : {currentDir, programDir}) {
        if (dir.isEmpty())
            continue;
        const QString found = Executable(QDir(dir).absoluteFilePath(program));
        if (!found.isEmpty())
            return found;
    }
    return QStandardPaths::findExecutable(program);
}

}  // namespace

StartCommand SplitStartCommand(const std::wstring& commandLine) {
    StartCommand command;
    QStringList words = QProcess::splitCommand(QString::fromStdWString(commandLine));
    if (!words.isEmpty())
        command.program = words.takeFirst().toStdWString();
    for (const QString& word : words)
        command.arguments.push_back(word.toStdWString());
    return command;
}

std::wstring FindStartProgram(const std::wstring& program, const std::wstring& currentDir,
                              const std::wstring& programDir) {
    const QString name = QString::fromStdWString(program);
    const QString current = QString::fromStdWString(currentDir);
    const QString own = QString::fromStdWString(programDir);
    QString found = Find(name, current, own);
    if (found.isEmpty() && name.endsWith(".exe", Qt::CaseInsensitive))
        found = Find(name.chopped(4), current, own);
    return found.toStdWString();
}
