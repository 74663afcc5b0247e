#pragma once
// CSerial: the channel to a machine on a serial port.
//
// Configure it with SetPortParameters() (in either state), then Open(). Port n ("COMn")
// is a device path chosen by SerialPort::DevicePath(): /dev/ttyS<n-1>, or the device named
// by the environment variable TACTUS_COM<n>. While open, a port-event thread waits for
// input and passes each read of at most 255 bytes to the line assembly of CMMIO; Write()
// runs on the caller's thread and blocks until the bytes are written or six attempts of
// at most the write time-out each have been made.
//
// Ownership: the channel owns the port, its stop event and its thread. Close() and the
// destructor stop and join the thread before the port is closed and the queued
// messages are discarded.
//
// Failure: SetPortParameters() returns 0 for settings the platform cannot take, Open()
// returns 0 when the port cannot be opened or configured (the error text names the device
// and the system's reason), and read or write errors count as 0 bytes. A line that fails
// for good (the device has gone) is reported by ConnectionLost() until the next Open().
// Nothing throws.

#include <string>
#include <thread>

#include "driver/comm/channel/CMMIO.h"
#include "driver/comm/channel/SerialPort.h"
#include "driver/comm/channel/WakeEvent.h"

class CSerial : public CMMIO {
  public:
    // Largest single read handed to the line assembly.
    static constexpr int kReadChunk = 255;

    CSerial();
    ~CSerial() override;

    // Selects the port at once; a baud rate, parity letter, data bits or stop bits of 0
    // keeps the current value, the handshake is always taken (1 hardware, 2 software,
    // other none). Returns 1 and stores all values when ApplyPortSettings accepts them,
    // else 0.
    int SetPortParameters(int port, int baudRate, char parity, int dataBits, int stopBits,
                          int handshake);
    // Checks the settings; when the port is open also applies them. 1 on success.
    int ApplyPortSettings(int port, int baudRate, char parity, int dataBits, int stopBits,
                          int handshake);

    // Stops the port-event thread, closes the port and discards queued messages; 1.
    int Close() override;
    // Opens and configures the selected port (closing it first); 1 when open, else 0.
    int Open() override;
    // Writes on the caller's thread; returns the number of bytes written.
    int Write(const char* data, int length, int reserved) override;
    bool IsOpen() override;
    // Reads up to kReadChunk waiting bytes into the line assembly and returns the count;
    // port-event thread only.
    virtual int ReadAvailable();

    int GetPortNumber() const { return portNumber_; }
    int GetBaudRate() const { return baudRate_; }
    char GetParity() const { return parity_; }
    int GetDataBits() const { return dataBits_; }
    int GetStopBits() const { return stopBits_; }
    int GetHandshake() const { return handshake_; }

  private:
    void PortEventLoop();

    int writeTimeoutMs_ = 1000;
    char parity_ = 'N';
    int portNumber_ = 1;
    int baudRate_ = 9600;
    int dataBits_ = 7;
    int stopBits_ = 1;
    int handshake_ = 3;
    int writeAttemptsLimit_ = 5;
    SerialPort device_;
    WakeEvent stopEvent_;
    std::thread portEventThread_;
    bool readFailed_ = false;  // port-event thread only
};
