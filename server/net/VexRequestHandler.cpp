#include "server/net/VexRequestHandler.h"

#include "server/net/VexApp.h"
#include "server/net/VexFormat.h"
#include "server/net/VexProtocol.h"

VexRequestHandler::VexRequestHandler(VexApp* app, Hooks hooks)
    : app_(app), hooks_(std::move(hooks)) {}

namespace {

// The values with single spaces between, as vexproto::kPositionFormat and
// kHitDataFormat ("%lf %lf ...") print them.
QByteArray JoinFixed6(std::initializer_list<double> values) {
    char buffer[7 * (kFixed6Max + 1)];
    char* end = buffer;
    for (double value : values) {
        if (end != buffer)
            *end++ = ' ';
        end = WriteFixed6(end, value);
    }
    return QByteArray(buffer, end - buffer);
}

}  // namespace

QByteArray VexRequestHandler::FormatPosition(const VexPosition& p) {
    return JoinFixed6({p.x, p.y, p.z, p.w});
}

QByteArray VexRequestHandler::FormatHitData(const VexPosition& hit, const VexPosition& vector) {
    return JoinFixed6({hit.x, hit.y, hit.z, hit.w, vector.x, vector.y, vector.z});
}

QByteArray VexRequestHandler::RequestText(const QByteArray& received) {
    const qsizetype end = received.indexOf('\0');
    return end < 0 ? received : received.left(end);
}

bool VexRequestHandler::IsRequest(const QByteArray& text) {
    return text == vexproto::kRequestPosition || text == vexproto::kRequestHit ||
           text == vexproto::kRequestExit || text.startsWith(vexproto::kLoggedPrefix);
}

void VexRequestHandler::HandleRequest(const QByteArray& received) {
    // Clients written in C send the request as a string, some with its terminating zero.
    const QByteArray text = RequestText(received);
    // The request's bytes become log text one byte per character, so nothing is lost.
    const auto logText = [&text] { return QString::fromLatin1(text); };

    if (text == vexproto::kRequestPosition) {
        const QByteArray answer = FormatPosition(hooks_.records().position);
        if (app_->HasClient())
            app_->Send(vexproto::kCodePosition, answer);
    } else if (text == vexproto::kRequestHit) {
        const VexRecords records = hooks_.records();
        const QByteArray answer = FormatHitData(records.hit, records.vector);
        if (app_->HasClient())
            app_->Send(vexproto::kCodeHitData, answer);
        if (hooks_.alwaysMonitor())
            hooks_.appendLog(logText());
    } else if (text == vexproto::kRequestExit) {
        hooks_.postClose();
    }
    if (text.startsWith(vexproto::kLoggedPrefix))
        hooks_.appendLog(logText());
}
