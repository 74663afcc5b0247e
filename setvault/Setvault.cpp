#include "setvault/Setvault.h"

#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <mutex>
#include <vector>

namespace {

struct Registration {
    QString section;
    QString key;
    QString defaultText;
    int kind;
    int regParam;
    bool userWritable;
    bool regFlag;
    bool userScoped;
};

std::mutex& vaultLock() {
    static std::mutex lock;
    return lock;
}

std::vector<Registration>& registrations() {
    static std::vector<Registration> list;
    return list;
}

QString fromWide(const wchar_t* text) {
    return text ? QString::fromWCharArray(text) : QString();
}

QString iniPath() {
    const QString configured = qEnvironmentVariable("SETVAULT_INI");
    if (!configured.isEmpty())
        return configured;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Vexline/setvault.ini");
}

// QSettings turns '/' and '\' into group separators; escape them (and the escape character
// itself) so every section and key name stays one name.
QString escapeName(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (c == u'%')
            out += QStringLiteral("%25");
        else if (c == u'/')
            out += QStringLiteral("%2F");
        else if (c == u'\\')
            out += QStringLiteral("%5C");
        else
            out += c;
    }
    return out;
}

QString storedText(const QVariant& value) {
    // A hand-edited file may hold an unquoted list ("a, b"); keep its text rather than lose it.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

}  // namespace

std::wstring SetvaultIniPath() {
    return iniPath().toStdWString();
}

int RegKeyExists(const wchar_t* section) {
    std::lock_guard guard(vaultLock());
    QSettings settings(iniPath(), QSettings::IniFormat);
    const QString group = escapeName(fromWide(section));
    if (group.isEmpty())
        return settings.childKeys().isEmpty() ? 0 : 1;
    settings.beginGroup(group);
    return settings.childKeys().isEmpty() ? 0 : 1;
}

std::wstring GetRegString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText) {
    const std::wstring fallback = defaultText ? defaultText : L"";
    const QString name = escapeName(fromWide(key));
    if (name.isEmpty())
        return fallback;
    std::lock_guard guard(vaultLock());
    QSettings settings(iniPath(), QSettings::IniFormat);
    settings.beginGroup(escapeName(fromWide(section)));
    if (!settings.contains(name))
        return fallback;
    return storedText(settings.value(name)).toStdWString();
}

void AddRegSetting(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText, int kind,
                   int regParam, bool userWritable, bool regFlag, bool userScoped) {
    Registration entry{
        fromWide(section), fromWide(key), fromWide(defaultText), kind, regParam, userWritable,
        regFlag,           userScoped};
    std::lock_guard guard(vaultLock());
    for (Registration& known : registrations()) {
        if (known.section == entry.section && known.key == entry.key) {
            known = entry;
            return;
        }
    }
    registrations().push_back(entry);
}

bool WriteRegString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                    bool /*allUsers*/) {
    const QString name = escapeName(fromWide(key));
    if (name.isEmpty())
        return false;
    const QString text = fromWide(value);
    std::lock_guard guard(vaultLock());
    const QString path = iniPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(escapeName(fromWide(section)));
    // Unchanged values are not rewritten: the terminal window saves its size on every line.
    if (settings.contains(name) && storedText(settings.value(name)) == text)
        return true;
    settings.setValue(name, text);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

int IsAdmin() {
    const QByteArray forced = qgetenv("SETVAULT_ADMIN");
    if (!forced.isEmpty())
        return forced.trimmed() == "0" ? 0 : 1;
    return geteuid() == 0 ? 1 : 0;
}

void WriteRegSettingsToDebugFile() {
    std::lock_guard guard(vaultLock());
    const QString ini = iniPath();
    QString target = qEnvironmentVariable("SETVAULT_DEBUG_FILE");
    if (target.isEmpty()) {
        const QFileInfo info(ini);
        target = info.absolutePath() + u'/' + info.completeBaseName() +
                 QStringLiteral("-registered.txt");
    }
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    QSettings settings(ini, QSettings::IniFormat);
    QByteArray out = "Registered settings of " + ini.toUtf8() + " at " +
                     QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + "\n";
    for (const Registration& entry : registrations()) {
        settings.beginGroup(escapeName(entry.section));
        const QString name = escapeName(entry.key);
        const QString value = settings.contains(name)
                                  ? u'"' + storedText(settings.value(name)) + u'"'
                                  : QStringLiteral("(default)");
        settings.endGroup();
        out += QStringLiteral("[%1] %2 = %3  kind %4, default \"%5\", param %6, %7%8%9\n")
                   .arg(entry.section, entry.key, value)
                   .arg(entry.kind)
                   .arg(entry.defaultText)
                   .arg(entry.regParam)
                   .arg(entry.userWritable ? QStringLiteral("user-writable")
                                           : QStringLiteral("admin-only"),
                        entry.regFlag ? QStringLiteral(", flagged") : QString(),
                        entry.userScoped ? QStringLiteral(", per-user") : QString())
                   .toUtf8();
    }
    file.write(out);
}
