// One listening socket of a TcpServer: accepts connections and hands each to a new session.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

namespace daq::tcp {

struct TcpActivation;

class TcpListener : public std::enable_shared_from_this<TcpListener> {
  public:
    // Binds and listens at once; throws SocketError when that fails. A TLS listener's
    // connections handshake with the activation's TLS context of the moment they are accepted.
    TcpListener(std::shared_ptr<TcpActivation> activation, const asio::ip::tcp::endpoint& endpoint,
                bool tls);

    void start();
    // Closes the listening socket; a pending accept ends without a report.
    void stop();

    std::uint16_t port() const { return port_; }
    bool tls() const { return tls_; }

  private:
    void acceptNext();
    void onAccept(std::error_code error, asio::ip::tcp::socket socket);
    void admit(asio::ip::tcp::socket socket);

    std::shared_ptr<TcpActivation> activation_;
    asio::strand<asio::io_context::executor_type> strand_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    std::uint16_t port_ = 0;
    const bool tls_;
    std::string name_;  // "address:port" for status lines and errors
};

}  // namespace daq::tcp
