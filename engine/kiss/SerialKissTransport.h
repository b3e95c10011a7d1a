// SerialKissTransport: a TNC's KISS port on a serial line or a pseudo-terminal (a hardware TNC in KISS mode
// on /dev/ttyUSB0, or Dire Wolf's KISS pseudo-terminal), raw 8N1 without flow control, read and written
// without blocking on the Qt event loop.
#pragma once

#include "KissTransport.h"

#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <string>

namespace corvantle::kiss {

class SerialKissTransport final : public KissTransport {
  public:
    // `baud` is one of the usual rates (1200 to 115200); a pseudo-terminal ignores it.
    explicit SerialKissTransport(std::string device, int baud = 9600);
    ~SerialKissTransport() override;
    SerialKissTransport(const SerialKissTransport &) = delete;
    SerialKissTransport &operator=(const SerialKissTransport &) = delete;

    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void open() override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    void write(std::string_view bytes) override;
    std::string name() const override { return device_; }

  private:
    std::string configure();
    void readAvailable();
    void writePending();
    void fail(const std::string &why);

    std::string device_;
    int baud_;
    Handlers handlers_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    std::string pending_;  // written while the line was full
    QObject context_;      // for answers to open() that come from the event loop
    unsigned opening_ = 0; // counts open() calls, so a late answer to an earlier one is dropped
};

} // namespace corvantle::kiss
