#include "server/net/VexMessage.h"

#include <array>
#include <cstdio>

#include "server/net/VexProtocol.h"

QByteArray VexMessage::Line() const {
    std::array<char, vexproto::kLineBufferSize> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), vexproto::kLineFormat,
                                text_.constData(), code_);
    if (n < 0)
        return {};
    return QByteArray(buffer.data(), std::min(n, vexproto::kLineBufferSize - 1));
}
