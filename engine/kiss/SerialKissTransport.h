// SerialKissTransport: a TNC's KISS port on a serial line or a pseudo-terminal (a hardware TNC in KISS mode
// on /dev/ttyUSB0, or Dire Wolf's KISS pseudo-terminal), raw 8N1 without flow control, on Qt Serial Port.
// A device that vanishes (an adapter unplugged, the other end of a pseudo-terminal closed) is reported as
// the stream lost; the next open() finds it again once it is back.
#pragma once

#include "KissTransport.h"

#include <QObject>

#include <memory>
#include <string>

class QSerialPort;

namespace corvantle::kiss {

class SerialKissTransport final : public KissTransport {
  public:
    // `baud` is one of the speeds a serial line takes (settings::kSerialSpeeds); a pseudo-terminal ignores
    // it.
    explicit SerialKissTransport(std::string device, int baud = 9600);
    ~SerialKissTransport() override;
    SerialKissTransport(const SerialKissTransport &) = delete;
    SerialKissTransport &operator=(const SerialKissTransport &) = delete;

    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void open() override;
    void close() override;
    bool isOpen() const override;
    void write(std::string_view bytes) override;
    std::string name() const override { return device_; }

  private:
    void readAll();
    void onError(int error); // a QSerialPort::SerialPortError
    void fail(const std::string &why);

    std::string device_;
    int baud_;
    Handlers handlers_;
    std::unique_ptr<QSerialPort> port_; // Qt Serial Port stays out of this header: only this library links it
    QObject context_;                   // for answers to open() that come from the event loop
    unsigned opening_ = 0; // counts open() and close() calls, so a late answer to an earlier one is dropped
};

} // namespace corvantle::kiss
