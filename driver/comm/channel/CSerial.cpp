#include "driver/comm/channel/CSerial.h"

#include <system_error>

#include "driver/comm/channel/AnsiText.h"
#include "driver/comm/channel/PortSettings.h"

namespace {

// Port time-outs while open: a read ends 25 ms after the last byte, or after 1 ms per
// requested byte; a write gets the channel's write time-out.
constexpr int kReadIntervalMs = 25;
constexpr int kReadTotalMultiplierMs = 1;
// Pause of the port-event thread after a line error (for example a pseudo-terminal whose
// other side has gone), so that a broken line is not polled in a tight loop.
constexpr int kLineErrorPauseMs = 100;

}  // namespace

CSerial::CSerial() = default;

CSerial::~CSerial() {
    CSerial::Close();
}

int CSerial::SetPortParameters(int port, int baudRate, char parity, int dataBits, int stopBits,
                               int handshake) {
    portNumber_ = port;
    const int baud = baudRate != 0 ? baudRate : baudRate_;
    const char par = parity != 0 ? parity : parity_;
    const int data = dataBits != 0 ? dataBits : dataBits_;
    const int stop = stopBits != 0 ? stopBits : stopBits_;
    if (!ApplyPortSettings(port, baud, par, data, stop, handshake)) {
        return 0;
    }
    baudRate_ = baud;
    parity_ = par;
    dataBits_ = data;
    stopBits_ = stop;
    handshake_ = handshake;
    return 1;
}

int CSerial::ApplyPortSettings(int port, int baudRate, char parity, int dataBits, int stopBits,
                               int handshake) {
    const std::optional<PortSettings> settings =
        ParsePortSettings(FormatPortSettings(port, baudRate, parity, dataBits, stopBits));
    if (!settings) {
        return 0;
    }
    if (!device_.IsOpen()) {
        return 1;  // valid; Open() applies them
    }
    if (device_.Apply(*settings, handshake)) {
        return 1;
    }
    // Second try with the plain form of the line: even, odd or no parity, one or two
    // stop bits.
    PortSettings plain = *settings;
    switch (parity) {
        case 'E':
        case 'e':
            plain.parity = Parity::kEven;
            break;
        case 'O':
        case 'o':
            plain.parity = Parity::kOdd;
            break;
        default:
            plain.parity = Parity::kNone;
            break;
    }
    plain.stopBits = stopBits == 2 ? StopBits::kTwo : StopBits::kOne;
    return device_.Apply(plain, handshake) ? 1 : 0;
}

bool CSerial::IsOpen() {
    return device_.IsOpen();
}

int CSerial::Open() {
    Close();
    const std::string path = SerialPort::DevicePath(portNumber_);
    const std::wstring name = L"COM" + std::to_wstring(portNumber_);
    if (path.empty()) {
        SetError(L"Couldn't open " + name + L": no device for this port");
        SetOpenError(L"SOURCE_OPEN_SERIAL_ERROR-" +
                     std::to_wstring(static_cast<int>(std::errc::no_such_file_or_directory)));
        return 0;
    }
    if (const int error = device_.Open(path); error != 0) {
        SetError(L"Couldn't open " + name + L" (" + WidenFromAnsi(path) + L"): " +
                 WidenFromAnsi(SerialPort::OpenFailureReason(path, error)));
        SetOpenError(L"SOURCE_OPEN_SERIAL_ERROR-" + std::to_wstring(error));
        return 0;
    }
    if (!ApplyPortSettings(portNumber_, baudRate_, parity_, dataBits_, stopBits_, handshake_)) {
        device_.Close();
        SetError(L"Couldn't configure " + name + L" (" + WidenFromAnsi(path) + L")");
        SetOpenError(L"SOURCE_OPEN_SERIAL_ERROR-" +
                     std::to_wstring(static_cast<int>(std::errc::invalid_argument)));
        return 0;
    }
    SerialTimeouts timeouts;
    timeouts.readIntervalMs = kReadIntervalMs;
    timeouts.readTotalMultiplierMs = kReadTotalMultiplierMs;
    timeouts.writeTotalConstantMs = writeTimeoutMs_;
    device_.SetTimeouts(timeouts);

    int error = stopEvent_.Create();
    if (error == 0) {
        DiscardPartialLine();
        ClearConnectionLost();
        try {
            portEventThread_ = std::thread(&CSerial::PortEventLoop, this);
        } catch (const std::system_error& e) {
            error = e.code().value();
        }
    }
    if (error != 0) {
        stopEvent_.Close();
        device_.Close();
        SetError(L"Couldn't start reading " + name + L" ERROR-" + std::to_wstring(error));
        SetOpenError(L"SOURCE_OPEN_SERIAL_ERROR-" + std::to_wstring(error));
        return 0;
    }
    return IsOpen() ? 1 : 0;
}

int CSerial::Close() {
    if (device_.IsOpen()) {
        stopEvent_.Signal();
        if (portEventThread_.joinable()) {
            portEventThread_.join();
        }
        stopEvent_.Close();
        device_.Close();
        ClearReceiveQueue();
    }
    return 1;
}

int CSerial::Write(const char* data, int length, int reserved) {
    if (data == nullptr || length <= 0 || !device_.IsOpen()) {
        return 0;
    }
    int written = 0;
    int attempts = 0;
    do {
        const int n = device_.Write(data + written, length - written);
        if (n > 0) {
            written += n;  // a failed attempt counts as 0 bytes
        }
        ++attempts;
    } while (written < length && attempts <= writeAttemptsLimit_);
    return written;
}

int CSerial::ReadAvailable() {
    char buffer[kReadChunk];
    int count = device_.Read(buffer, kReadChunk);
    if (count < 0) {
        count = 0;  // line errors count as nothing read
        readFailed_ = true;
    }
    OnDataReceived(buffer, count, false);
    return count;
}

void CSerial::PortEventLoop() {
    readFailed_ = false;
    for (;;) {
        const SerialPort::Wake wake = device_.WaitForInput(stopEvent_, -1);
        if (wake == SerialPort::Wake::kStop) {
            return;
        }
        if (wake == SerialPort::Wake::kReadable && ReadAvailable() > 0) {
            continue;
        }
        if (wake == SerialPort::Wake::kLineError || readFailed_) {
            // The device has gone (an adapter unplugged, the other side of a
            // pseudo-terminal closed): nothing more arrives until the owner opens it again.
            NoteConnectionLost();
            stopEvent_.Wait(-1);
            return;
        }
        if (stopEvent_.Wait(kLineErrorPauseMs)) {
            return;
        }
    }
}
