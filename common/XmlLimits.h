#pragma once

// The limits every XML settings file of the system is read under, and the reading that
// applies them: VexServer's VEX.XML and VEXENC7480.XML, and the driver's TACConfigData.xml
// (so also tactus-tool config check, which reads that file as the driver does).
//
// These files are a few kilobytes and four elements deep. The limits are far beyond that;
// they keep a hostile or broken file (a few entities expanding to gigabytes, elements nested
// a hundred thousand deep, a FIFO or a device in place of the file) from taking the memory
// or the time of the program that reads it, which then refuses the file with a sentence
// saying why. docs/reliability.md lists the numbers.
//
// Header only, as both programs build it in. Any thread; no shared state; nothing throws.

#include <QByteArray>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QXmlStreamReader>
#include <algorithm>

namespace xmllimits {

// Largest document, in characters: the file itself together with everything its entity
// references may expand to.
inline constexpr qsizetype kMaxDocumentChars = qsizetype(1) << 20;  // 1 MiB
inline constexpr const char* kMaxDocumentText = "1 MiB";
// Deepest nesting of elements (the root element is depth 1).
inline constexpr int kMaxElementDepth = 64;
// Most characters one entity reference may expand to, nested references included. This is
// the XML reader's own limit (QXmlStreamReader::setEntityExpansionLimit), stated here so that
// both programs apply the same number.
inline constexpr int kMaxEntityExpansion = 4096;

// Reads the file at `path` into `xml`. False with `problem` (naming the file) when it is not
// a regular file (a FIFO would block the reader for ever, a device never end), cannot be
// opened, or holds more than kMaxDocumentChars bytes; `missing` tells a file that does not
// exist at all from one that was refused.
inline bool ReadFile(const QString& path, QByteArray& xml, QString* problem,
                     bool* missing = nullptr) {
    const QFileInfo info(path);
    if (missing)
        *missing = !info.exists();
    QString reason;
    QFile file(path);
    if (info.exists() && !info.isFile())
        reason = QStringLiteral("%1 is not a regular file").arg(path);
    else if (!file.open(QIODevice::ReadOnly))
        reason = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    else if ((xml = file.read(kMaxDocumentChars + 1)).size() > kMaxDocumentChars)
        reason = QStringLiteral("%1 is larger than %2").arg(path, QLatin1String(kMaxDocumentText));
    if (reason.isEmpty())
        return true;
    xml.clear();
    if (problem)
        *problem = reason;
    return false;
}

// Parses `xml` into `document` within the limits. False with `message` and, where there is
// one, the position in `line` and `column` (as QDomDocument::setContent reports them) when the
// document is not well formed or goes beyond a limit.
//
// The limits are checked by a pass of the streaming reader before the document is built.
// Entity references cannot be counted without expanding them, so a document that declares
// entities is refused when even an upper bound of its expansion (every '&' of the file
// counted as a reference to the longest entity) exceeds kMaxDocumentChars; a document without
// declarations expands to no more than its own size.
inline bool SetContent(QDomDocument& document, const QByteArray& xml, QString* message,
                       int* line = nullptr, int* column = nullptr) {
    const auto refuse = [&](const QString& text, qint64 atLine, qint64 atColumn) {
        if (message)
            *message = text;
        if (line)
            *line = int(atLine);
        if (column)
            *column = int(atColumn);
        return false;
    };
    if (xml.size() > kMaxDocumentChars)
        return refuse(
            QStringLiteral("the document is larger than %1").arg(QLatin1String(kMaxDocumentText)),
            0, 0);
    QXmlStreamReader scan(xml);
    scan.setEntityExpansionLimit(kMaxEntityExpansion);
    int depth = 0;
    while (!scan.atEnd()) {
        const QXmlStreamReader::TokenType token = scan.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > kMaxElementDepth)
            return refuse(
                QStringLiteral("elements are nested deeper than %1").arg(kMaxElementDepth),
                scan.lineNumber(), scan.columnNumber());
        if (token == QXmlStreamReader::EndElement)
            --depth;
        if (token != QXmlStreamReader::DTD || scan.entityDeclarations().isEmpty())
            continue;
        qsizetype longest = 0;
        for (const QXmlStreamEntityDeclaration& entity : scan.entityDeclarations()) {
            const bool nests = entity.value().contains(u'&');
            longest = std::max(
                longest, nests ? qsizetype(kMaxEntityExpansion)
                               : std::min(entity.value().size(), qsizetype(kMaxEntityExpansion)));
        }
        const qsizetype references = xml.count('&');
        if (xml.size() + references * longest > kMaxDocumentChars)
            return refuse(QStringLiteral("its entities may expand to more than %1 of text (%2 "
                                         "references, entities of up to %3 characters)")
                              .arg(QLatin1String(kMaxDocumentText))
                              .arg(references)
                              .arg(longest),
                          scan.lineNumber(), scan.columnNumber());
    }
    // A document that is not well formed is left to the parser below, which says so in the
    // same words.
    QXmlStreamReader reader(xml);
    reader.setEntityExpansionLimit(kMaxEntityExpansion);
    return document.setContent(&reader, false, message, line, column);
}

}  // namespace xmllimits
