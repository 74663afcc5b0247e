#pragma once
// XmlValues: the lookups and value rules shared by the server's settings readers.
//
// A key is the first child element of its parent whose tag name matches exactly (case
// counts); anything else (text, comments, a missing or null parent) finds nothing. A
// value is the element's text with surrounding white space removed; an element holding
// other elements has no plain value and reads as empty. Malformed values never fail a
// read: the Read* functions leave the member as it was and return false.

#include <QDomElement>
#include <QString>
#include <initializer_list>
#include <optional>
#include <utility>

namespace XmlValues {

QDomElement Child(const QDomElement& parent, const char* key);
QString Text(const QDomElement& element);
QString ChildText(const QDomElement& parent, const char* key);

// C-style integer with automatic base: optional white space and sign, then "0x"/"0X"
// for hexadecimal, a leading 0 for octal, else decimal; parsing stops at the first
// character that does not belong to the number ("12abc" is 12). Empty when no digit
// was read. Values beyond the int range are clamped to it.
std::optional<int> ParseInteger(const QString& text);
// Decimal floating-point number with optional exponent; parsing stops at the first
// character that does not belong to it. Empty when nothing (finite) was read.
std::optional<double> ParseReal(const QString& text);

// Loads a whole document within the limits of common/XmlLimits.h; false when the file is
// missing, unreadable, not a regular file, not well formed or beyond a limit. Except for a
// missing file, `problem` then gets a sentence for the user that names the file and the
// reason.
bool Load(const QString& fileName, QDomDocument& document, QString* problem = nullptr);

using Choice = std::pair<const char*, int>;
// Sets member to the value of the first choice whose text equals the key's text.
bool ReadChoice(const QDomElement& parent, const char* key, std::initializer_list<Choice> choices,
                int& member);
bool ReadInteger(const QDomElement& parent, const char* key, int& member);
bool ReadReal(const QDomElement& parent, const char* key, double& member);

}  // namespace XmlValues
