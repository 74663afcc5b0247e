#include "server/config/XmlValues.h"

#include <QDomDocument>
#include <QFile>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "common/XmlLimits.h"

namespace XmlValues {

QDomElement Child(const QDomElement& parent, const char* key) {
    if (parent.isNull())
        return {};
    return parent.firstChildElement(QString::fromLatin1(key));
}

QString Text(const QDomElement& element) {
    if (element.isNull() || !element.firstChildElement().isNull())
        return {};
    return element.text().trimmed();
}

QString ChildText(const QDomElement& parent, const char* key) {
    return Text(Child(parent, key));
}

std::optional<int> ParseInteger(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const char* begin = bytes.constData();
    char* end = nullptr;
    const long long value = std::strtoll(begin, &end, 0);
    if (end == begin)
        return std::nullopt;
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

std::optional<double> ParseReal(const QString& text) {
    // from_chars instead of strtod: the decimal point must not depend on the locale
    // the application runs in.
    QByteArray bytes = text.trimmed().toUtf8();
    if (bytes.startsWith('+'))
        bytes.remove(0, 1);
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
    if (error != std::errc() || end == bytes.constData() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool Load(const QString& fileName, QDomDocument& document, QString* problem) {
    QByteArray xml;
    QString reason;
    bool missing = false;
    if (!xmllimits::ReadFile(fileName, xml, &reason, &missing)) {
        if (problem && !missing)
            *problem = reason;
        return false;
    }
    int line = 0, column = 0;
    if (xmllimits::SetContent(document, xml, &reason, &line, &column))
        return true;
    if (problem)
        *problem = line > 0 ? QStringLiteral("%1, line %2, column %3: %4")
                                  .arg(fileName)
                                  .arg(line)
                                  .arg(column)
                                  .arg(reason)
                            : QStringLiteral("%1: %2").arg(fileName, reason);
    return false;
}

bool ReadChoice(const QDomElement& parent, const char* key, std::initializer_list<Choice> choices,
                int& member) {
    const QString text = ChildText(parent, key);
    for (const Choice& choice : choices) {
        if (text == QLatin1String(choice.first)) {
            member = choice.second;
            return true;
        }
    }
    return false;
}

bool ReadInteger(const QDomElement& parent, const char* key, int& member) {
    const std::optional<int> value = ParseInteger(ChildText(parent, key));
    if (value)
        member = *value;
    return value.has_value();
}

bool ReadReal(const QDomElement& parent, const char* key, double& member) {
    const std::optional<double> value = ParseReal(ChildText(parent, key));
    if (value)
        member = *value;
    return value.has_value();
}

}  // namespace XmlValues
