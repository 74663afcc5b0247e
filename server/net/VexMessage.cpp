#include "server/net/VexMessage.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "server/net/VexProtocol.h"

QByteArray VexMessage::Line() const {
    // vexproto::kLineFormat, "( %s ) %d\r\n", built without printf in a buffer of the C
    // size: the text ends at its first zero byte, and the line is cut at 1023 bytes.
    constexpr qsizetype kMax = vexproto::kLineBufferSize - 1;
    char code[16];
    const char* codeEnd = std::to_chars(code, code + sizeof code, code_).ptr;
    const char* text = text_.constData();
    const qsizetype textSize = qsizetype(strnlen(text, size_t(std::min(text_.size(), kMax))));
    char line[vexproto::kLineBufferSize + sizeof code + 8];
    char* p = line;
    *p++ = '(';
    *p++ = ' ';
    p = std::copy_n(text, textSize, p);
    *p++ = ' ';
    *p++ = ')';
    *p++ = ' ';
    p = std::copy(static_cast<const char*>(code), codeEnd, p);
    *p++ = '\r';
    *p++ = '\n';
    return QByteArray(line, std::min<qsizetype>(p - line, kMax));
}
