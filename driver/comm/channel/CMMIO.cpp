#include "driver/comm/channel/CMMIO.h"

#include <algorithm>
#include <cstring>

#include "driver/comm/channel/AnsiText.h"

namespace {

// WriteString sends at most this many UTF-16 units.
constexpr size_t kMaxWriteStringUnits = 2048;

// The 8-bit form of a wide text as the machine receives it: the text is taken as UTF-16
// (characters beyond the basic plane count as their two surrogate units) and each unit
// keeps its low 8 bits.
std::string LowBytesOfUtf16(const std::wstring& text, size_t maxUnits) {
    std::string out;
    out.reserve(std::min(text.size(), maxUnits));
    for (wchar_t c : text) {
        const auto code = static_cast<unsigned long>(c);
        if (code > 0xFFFF && code <= 0x10FFFF) {
            const unsigned long v = code - 0x10000;
            for (unsigned long unit : {0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF)}) {
                if (out.size() == maxUnits) {
                    return out;
                }
                out.push_back(static_cast<char>(unit & 0xFF));
            }
        } else {
            if (out.size() == maxUnits) {
                return out;
            }
            out.push_back(static_cast<char>(code & 0xFF));
        }
    }
    return out;
}

}  // namespace

CMMIO::CMMIO() {
    CMMIO::ResetState();
}

CMMIO::~CMMIO() = default;

void CMMIO::ResetState() {
    terminator_.store(0, std::memory_order_relaxed);
    lineMode_.store(false, std::memory_order_release);
    lineLength_ = 0;
    connectionLost_.store(false, std::memory_order_release);
    std::lock_guard lock(receiveLock_);
    receiveQueue_.clear();
    queuedBytes_ = 0;
    messageCallback_ = nullptr;
    arrivalNotifier_ = nullptr;
}

int CMMIO::Close() {
    ClearReceiveQueue();
    return 1;
}

int CMMIO::Open() {
    return 0;
}

bool CMMIO::IsOpen() {
    return false;
}

void CMMIO::ClearReceiveQueue() {
    std::lock_guard lock(receiveLock_);
    receiveQueue_.clear();
    queuedBytes_ = 0;
}

int CMMIO::ReadMessage(char* destination) {
    std::string message;
    {
        std::lock_guard lock(receiveLock_);
        if (receiveQueue_.empty()) {
            return 0;
        }
        message = std::move(receiveQueue_.front().bytes);
        receiveQueue_.pop_front();
        queuedBytes_ -= message.size();
    }
    if (destination != nullptr) {
        std::memcpy(destination, message.data(), message.size());
    }
    return static_cast<int>(message.size());
}

int CMMIO::GetMessageLength() {
    std::lock_guard lock(receiveLock_);
    return receiveQueue_.empty() ? 0 : static_cast<int>(receiveQueue_.front().bytes.size());
}

void CMMIO::SetTerminator(char c) {
    // The reading thread loads the mode first (acquire), so it always sees this byte.
    terminator_.store(c, std::memory_order_relaxed);
    lineMode_.store(true, std::memory_order_release);
}

void CMMIO::OnDataReceived(const char* data, int length, int endOfMessage) {
    if (data == nullptr || length <= 0) {
        return;
    }
    const bool lineMode = lineMode_.load(std::memory_order_acquire);
    const char terminator = terminator_.load(std::memory_order_relaxed);
    for (int i = 0; i < length; ++i) {
        lineBuffer_[lineLength_++] = data[i];
        const bool ends = endOfMessage || (lineMode ? data[i] == terminator : i == length - 1);
        // A full buffer ends the message too: nothing is ever stored beyond it.
        if (ends || lineLength_ == kLineBufferSize) {
            Split(std::string_view(lineBuffer_, lineLength_), lineMode, terminator);
            lineLength_ = 0;
        }
    }
}

void CMMIO::Split(std::string_view line, bool lineMode, char terminator) {
    size_t start = 0;
    if (lineMode) {
        for (size_t pos = 0; pos + 1 < line.size(); ++pos) {
            if (line[pos] == terminator) {
                Deliver(line.substr(start, pos + 1 - start));
                start = pos + 1;
            }
        }
    }
    Deliver(line.substr(start));
}

void CMMIO::Deliver(std::string_view message) {
    MessageCallback callback;
    {
        std::lock_guard lock(receiveLock_);
        if (!messageCallback_) {
            if (MakeRoomFor(message)) {
                receiveQueue_.push_back(Queued{std::string(message)});
                queuedBytes_ += message.size();
            }
        } else {
            callback = messageCallback_;
        }
    }
    if (!callback) {
        NotifyArrival();
        return;
    }
    // Called without the lock, so the callback may use the channel's queue functions.
    callback(WidenFromAnsi(message));
}

CMMIO::MessageKind CMMIO::KindOf(std::string_view message) const {
    return classifier_ ? classifier_(message) : MessageKind::kOther;
}

CMMIO::MessageKind CMMIO::KindOf(Queued& queued) {
    if (queued.kind < 0) {
        queued.kind = static_cast<int>(KindOf(std::string_view(queued.bytes)));
    }
    return static_cast<MessageKind>(queued.kind);
}

void CMMIO::CountDropped(MessageKind kind) {
    switch (kind) {
        case MessageKind::kPosition:
            ++dropped_.positions;
            break;
        case MessageKind::kOther:
            ++dropped_.others;
            break;
        case MessageKind::kHit:
            ++dropped_.hits;
            break;
    }
}

bool CMMIO::MakeRoomFor(std::string_view message) {
    while (!receiveQueue_.empty() && (receiveQueue_.size() >= kMaxQueuedMessages ||
                                      queuedBytes_ + message.size() > kMaxQueuedBytes)) {
        // Kinds are asked for only now, and kept: a flood of positions costs one question
        // per message, about the oldest one.
        auto victim = receiveQueue_.end();
        auto oldestOther = receiveQueue_.end();
        for (auto it = receiveQueue_.begin(); it != receiveQueue_.end(); ++it) {
            const MessageKind kind = KindOf(*it);
            if (kind == MessageKind::kPosition) {
                victim = it;
                break;
            }
            if (kind == MessageKind::kOther && oldestOther == receiveQueue_.end()) {
                oldestOther = it;
            }
        }
        if (victim == receiveQueue_.end()) {
            victim = oldestOther;
        }
        if (victim == receiveQueue_.end()) {
            // Nothing but hits is waiting: they are worth more than anything new but a hit.
            const MessageKind incoming = KindOf(message);
            if (incoming != MessageKind::kHit) {
                CountDropped(incoming);
                return false;
            }
            victim = receiveQueue_.begin();
        }
        CountDropped(static_cast<MessageKind>(victim->kind));
        queuedBytes_ -= victim->bytes.size();
        receiveQueue_.erase(victim);
    }
    return true;
}

void CMMIO::SetMessageClassifier(MessageClassifier classifier) {
    std::lock_guard lock(receiveLock_);
    classifier_ = std::move(classifier);
    for (Queued& queued : receiveQueue_) {
        queued.kind = -1;
    }
}

CMMIO::DropCounts CMMIO::Dropped() const {
    std::lock_guard lock(receiveLock_);
    return dropped_;
}

void CMMIO::NotifyArrival() {
    std::shared_ptr<const std::function<void()>> notifier;
    {
        std::lock_guard lock(receiveLock_);
        notifier = arrivalNotifier_;
    }
    if (notifier) {
        (*notifier)();
    }
}

void CMMIO::SetArrivalNotifier(std::function<void()> notifier) {
    auto shared =
        notifier ? std::make_shared<const std::function<void()>>(std::move(notifier)) : nullptr;
    std::lock_guard lock(receiveLock_);
    arrivalNotifier_ = std::move(shared);
}

void CMMIO::NoteConnectionLost() {
    if (!connectionLost_.exchange(true, std::memory_order_acq_rel)) {
        NotifyArrival();
    }
}

std::wstring CMMIO::GetOpenError() {
    return openError_;
}

void CMMIO::SetMessageCallback(MessageCallback callback) {
    std::lock_guard lock(receiveLock_);
    messageCallback_ = std::move(callback);
}

int CMMIO::WriteString(std::wstring text, int reserved) {
    const std::string bytes = LowBytesOfUtf16(text, kMaxWriteStringUnits);
    return Write(bytes.data(), static_cast<int>(bytes.size()), reserved);
}

void CMMIO::SetError(std::wstring text) {
    std::lock_guard lock(errorLock_);
    errorText_ = std::move(text);
    errorFlag_ = true;
}

std::wstring CMMIO::GetErrorText() const {
    std::lock_guard lock(errorLock_);
    return errorText_;
}

bool CMMIO::GetErrorFlag() const {
    std::lock_guard lock(errorLock_);
    return errorFlag_;
}
