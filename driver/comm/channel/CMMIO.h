#pragma once
// CMMIO: the driver's communication channel to the machine, abstract.
//
// A channel turns the byte stream it receives into messages and queues them; the driver
// core drains the queue from its poll timer and sends command texts through Write().
// The channel never interprets message contents. Concrete channels (CMMIO_IP for TCP,
// CSerial for a serial port) open the connection and run one reading thread that calls
// OnDataReceived() with every block of bytes it reads.
//
// Messages. Until SetTerminator() is called every received block is one message. After
// it, a message is every byte up to and including the terminator; bytes after the last
// terminator of a block wait for the next block. A message that reaches kLineBufferSize
// bytes without a terminator is ended there and queued as it is, so no message is ever
// longer than kLineBufferSize bytes.
//
// Bounds. The queue holds at most kMaxQueuedMessages messages and kMaxQueuedBytes bytes, so
// a peer that sends faster than the owner drains costs a bounded amount of memory. A
// message that arrives at a full queue makes room by dropping the oldest message the
// classifier (SetMessageClassifier) calls a position, else the oldest that is not a hit;
// when only hits are queued, the new message is dropped unless it is a hit itself (then
// the oldest hit goes). Every dropped message is counted (Dropped()). Without a classifier
// every message counts as kOther, so the oldest goes.
//
// Threads. The host's thread calls Open, SetTerminator, Write, GetMessageLength,
// ReadMessage and Close; the reading thread runs OnDataReceived, the message callback and
// the arrival notifier (which lets the owner handle queued messages without waiting for its
// next poll).
// The receive queue is guarded by the receive lock; the line being assembled belongs to
// the reading thread alone. A concrete channel's Close() and destructor join its reading
// thread before releasing anything, so the thread never outlives the channel. Never call
// Close() or destroy a channel from its own message callback.
//
// Failure. Open() and Write() report by return code; the text of the last failure is
// kept in the error text (with the error flag) and, for a failed open, a short code in
// the open error. Nothing throws.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CMMIO {
  public:
    // Longest message, in bytes: the size of the line buffer. ReadMessage() never copies
    // more than this.
    static constexpr int kLineBufferSize = 16000;
    // Result of a failed TCP Open(): the generic failure code 0x80004005.
    static constexpr int kOpenFailed = static_cast<int>(0x80004005u);
    // Bounds of the receive queue (docs/reliability-driver.md).
    static constexpr std::size_t kMaxQueuedMessages = 2000;
    static constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;

    // What a queued message is to its owner, for choosing what a full queue drops.
    enum class MessageKind { kPosition, kOther, kHit };
    // Called on the reading thread with the receive lock held, only while the queue is
    // full, with a message (its bytes, line end included); must be quick and must not use
    // the channel.
    using MessageClassifier = std::function<MessageKind(std::string_view)>;
    // Messages dropped from the full queue since construction, by kind.
    struct DropCounts {
        std::uint64_t positions = 0;
        std::uint64_t others = 0;
        std::uint64_t hits = 0;
        std::uint64_t Total() const { return positions + others + hits; }
    };

    // Receives each completed message (bytes widened one to one) on the reading thread,
    // instead of queuing it.
    using MessageCallback = std::function<void(std::wstring)>;

    CMMIO();
    CMMIO(const CMMIO&) = delete;
    CMMIO& operator=(const CMMIO&) = delete;

    // Discards every queued message; returns 1.
    virtual int Close();
    virtual ~CMMIO();
    // Opens the connection; 0 means success for the TCP channel, nonzero for the serial
    // channel (each documents its own). The base does nothing and returns 0.
    virtual int Open();
    // Removes the oldest message, copies its bytes (no terminating zero) to destination
    // unless destination is null, and returns its length; 0 with destination untouched
    // when the queue is empty. destination must hold kLineBufferSize bytes.
    virtual int ReadMessage(char* destination);
    // Length in bytes of the oldest queued message, 0 when none is queued.
    virtual int GetMessageLength();
    // Switches to line mode: from now on messages end at the byte c.
    virtual void SetTerminator(char c);
    // Line assembly of one received block. length -1 (a failed read) and 0 are ignored;
    // endOfMessage ends a message after every byte. Reading thread only.
    virtual void OnDataReceived(const char* data, int length, int endOfMessage);
    // Short text or code of the last failed open.
    virtual std::wstring GetOpenError();
    // Installs (or, with an empty function, removes) the message callback.
    virtual void SetMessageCallback(MessageCallback callback);
    // Installs (or, with an empty function, removes) the arrival notifier: called on the
    // reading thread, without any lock of the channel held, after every message that was
    // queued (not those taken by a message callback) and when the connection is lost. It
    // only tells the owner to look: it must return quickly and must not close or destroy
    // the channel (it may look at the queue). May be installed from any thread.
    void SetArrivalNotifier(std::function<void()> notifier);
    // Installs (or, with an empty function, removes) the classifier; any thread.
    void SetMessageClassifier(MessageClassifier classifier);
    // Any thread.
    DropCounts Dropped() const;
    // True once the reading thread has seen the other side end the connection (or the
    // connection fail for good); no further message will arrive on it. Cleared by a new
    // connection. Any thread.
    bool ConnectionLost() const { return connectionLost_.load(std::memory_order_acquire); }
    // Sends the first 2,048 UTF-16 units of text, each reduced to its low 8 bits;
    // returns Write()'s result.
    virtual int WriteString(std::wstring text, int reserved);
    // Sends length bytes of data; the caller keeps data. Meaning of the result is the
    // concrete channel's.
    virtual int Write(const char* data, int length, int reserved) = 0;
    virtual bool IsOpen();

    // Text of the last failure and whether one was recorded. Any thread.
    std::wstring GetErrorText() const;
    bool GetErrorFlag() const;

  protected:
    // Back to the constructed state: block mode, empty queue, no callback. Called by the
    // constructors; derived versions also reset their own members.
    virtual void ResetState();
    // Drops the bytes of an unfinished message. For Open(), while no reading thread runs,
    // so a new connection never continues a line of the previous one.
    void DiscardPartialLine() { lineLength_ = 0; }
    void SetError(std::wstring text);
    void SetOpenError(std::wstring text) { openError_ = std::move(text); }
    void ClearReceiveQueue();
    // For the reading thread: records that the connection has ended and tells the arrival
    // notifier (once per connection).
    void NoteConnectionLost();
    // For Open(), before the reading thread starts: a fresh connection.
    void ClearConnectionLost() { connectionLost_.store(false, std::memory_order_release); }

  private:
    void EndMessage();
    void Split(std::string_view line, bool lineMode, char terminator);
    void Deliver(std::string_view message);
    struct Queued {
        std::string bytes;
        int kind = -1;  // MessageKind once the classifier has been asked
    };
    MessageKind KindOf(Queued& queued);
    MessageKind KindOf(std::string_view message) const;
    // With the receive lock held: drops queued messages until `message` fits; false when
    // `message` itself is to be dropped.
    bool MakeRoomFor(std::string_view message);
    void CountDropped(MessageKind kind);
    void NotifyArrival();

    std::atomic<char> terminator_{0};
    std::atomic<bool> lineMode_{false};
    char lineBuffer_[kLineBufferSize];
    int lineLength_ = 0;

    mutable std::mutex receiveLock_;
    std::deque<Queued> receiveQueue_;  // guarded by receiveLock_
    std::size_t queuedBytes_ = 0;      // guarded by receiveLock_
    MessageClassifier classifier_;     // guarded by receiveLock_
    DropCounts dropped_;               // guarded by receiveLock_
    MessageCallback messageCallback_;  // guarded by receiveLock_
    // Shared so that the reading thread can call it after letting go of the lock.
    std::shared_ptr<const std::function<void()>> arrivalNotifier_;  // guarded by receiveLock_
    std::atomic<bool> connectionLost_{false};

    mutable std::mutex errorLock_;
    std::wstring errorText_;  // guarded by errorLock_
    bool errorFlag_ = false;  // guarded by errorLock_
    std::wstring openError_;  // host thread only
};
