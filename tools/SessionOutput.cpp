#include "tools/SessionOutput.h"

#include <cstdio>

namespace tool {

bool SessionOutput::Open(const QString& path) {
    clock_.start();
    Emit(QByteArray(sessionrec::kHeader) + '\n');
    if (path.isEmpty())
        return true;
    if (writer_.Open(path))
        return true;
    std::fprintf(stderr, "tactus-tool %s: cannot create %s: %s\n", command_.c_str(),
                 qPrintable(path), qPrintable(writer_.errorString()));
    return false;
}

void SessionOutput::Read(sessionrec::Direction d, QByteArrayView bytes) {
    Emit(sessionrec::FormatRead(Seconds(), d, bytes));
}

void SessionOutput::AddMark(sessionrec::Mark mark, const QByteArray& detail) {
    Emit(sessionrec::FormatMark(Seconds(), mark, detail));
}

void SessionOutput::Note(const QString& text) {
    Emit("# " + text.toLocal8Bit() + '\n');
}

void SessionOutput::Emit(const QByteArray& lines) {
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stdout);
    std::fflush(stdout);
    // The file begins with its own header (Writer::Open).
    if (!writer_.IsOpen() || !healthy_ || lines.startsWith(sessionrec::kHeader))
        return;
    if (!writer_.WriteLines(lines)) {
        std::fprintf(stderr, "tactus-tool %s: cannot write the recording: %s\n", command_.c_str(),
                     qPrintable(writer_.errorString()));
        healthy_ = false;
    }
}

}  // namespace tool
