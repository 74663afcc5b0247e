#pragma once
// SerialPort: a serial device opened through the platform's terminal interface
// (termios). This file is the only place where the serial channel touches it.
//
// Port n ("COMn") is the device /dev/ttyS<n-1>; the environment variable TACTUS_COM<n>
// names another device for that one port (see docs/serial-ports.md).
//
// The line is raw 8-bit, ignores the modem's carrier (CLOCAL) and follows the
// time-outs given with SetTimeouts(), which keep the meaning of the classic serial
// time-out record: a read ends once readIntervalMs pass without a new byte or after
// readTotalMultiplierMs per requested byte plus readTotalConstantMs; a write gives up
// after writeTotalMultiplierMs per byte plus writeTotalConstantMs. A zero limit is no
// limit.
//
// The owner opens, configures and closes the port on its thread; one reading thread may
// call WaitForInput() and Read() while the owner writes. Failures are reported as the
// platform's error numbers or -1; nothing throws.

#include <string>

#include "driver/comm/channel/PortSettings.h"

class WakeEvent;

struct SerialTimeouts {
    int readIntervalMs = 0;
    int readTotalMultiplierMs = 0;
    int readTotalConstantMs = 0;
    int writeTotalMultiplierMs = 0;
    int writeTotalConstantMs = 0;
};

class SerialPort {
  public:
    enum class Wake { kReadable, kStop, kTimeout, kLineError };

    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() { Close(); }

    // The device path of port n, or an empty text when there is none (n < 1).
    static std::string DevicePath(int portNumber);
    // True for a speed the port can be set to here (the standard rates, 50 to 4000000).
    static bool SupportsBaudRate(int baud);

    // Opens an existing device for reading and writing, exclusively; 0 or the error
    // number. A path that is not a terminal opens but fails Apply().
    int Open(const std::string& path);
    // Why Open(path) failed with `error`, in words for the operator: the system's text,
    // and for a permission problem the group that owns the device, which the user must
    // belong to.
    static std::string OpenFailureReason(const std::string& path, int error);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Sets speed, parity, data and stop bits and the handshake (1 hardware RTS/CTS,
    // 2 software XON/XOFF, any other value none, with DTR and RTS raised). False when the
    // device rejects them or the speed has no code on this platform.
    bool Apply(const PortSettings& settings, int handshake);
    void SetTimeouts(const SerialTimeouts& timeouts) { timeouts_ = timeouts; }

    // Reads up to maximum bytes under the read time-outs: the count (0 on time-out), or
    // -1 on a line error.
    int Read(char* buffer, int maximum);
    // Writes under the write time-out: the count written, or -1 when nothing could be
    // written because of an error.
    int Write(const char* data, int length);
    // Waits up to timeoutMs (-1: no limit) for input or the stop event.
    Wake WaitForInput(const WakeEvent& stop, int timeoutMs);

  private:
    int fd_ = -1;
    SerialTimeouts timeouts_;
};
