// KissTransport: the byte stream to a KISS TNC, whatever carries it. The KissEngine sees only this, so a TCP
// port (TcpKissTransport), a serial port or a pseudo-terminal all plug in the same way: opening is
// asynchronous, and exactly one of `opened` or `closed` answers each open().
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace corvantle::kiss {

class KissTransport {
  public:
    struct Handlers {
        std::function<void()> opened;
        std::function<void(std::string_view bytes)> received;
        std::function<void(const std::string &why)> closed; // an open that failed, or an open stream lost
    };

    virtual ~KissTransport() = default;

    virtual void setHandlers(Handlers handlers) = 0;
    virtual void open() = 0;
    // Closes without calling `closed`.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Bytes for the TNC; dropped while the stream is not open.
    virtual void write(std::string_view bytes) = 0;
    // Where the TNC is, for messages: "127.0.0.1:8001", "/dev/ttyUSB0".
    virtual std::string name() const = 0;
};

} // namespace corvantle::kiss
