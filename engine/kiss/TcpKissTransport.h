// TcpKissTransport: a TNC's KISS port on TCP (Dire Wolf serves one on 8001), with Qt Network.
#pragma once

#include "KissTransport.h"

#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <string>

namespace corvantle::kiss {

class TcpKissTransport final : public KissTransport {
  public:
    TcpKissTransport(std::string host, std::uint16_t port,
                     std::chrono::milliseconds connectWait = std::chrono::milliseconds(2000));
    ~TcpKissTransport() override;
    TcpKissTransport(const TcpKissTransport &) = delete;
    TcpKissTransport &operator=(const TcpKissTransport &) = delete;

    void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
    void open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    void write(std::string_view bytes) override;
    std::string name() const override { return host_ + ":" + std::to_string(port_); }

  private:
    void fail(const std::string &why);
    void readAll();

    std::string host_;
    std::uint16_t port_;
    std::chrono::milliseconds connectWait_;
    Handlers handlers_;
    QTcpSocket socket_;
    QTimer connectTimer_;
    bool opening_ = false;
    bool open_ = false;
};

} // namespace corvantle::kiss
