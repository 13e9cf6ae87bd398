// The physical limit of this machine for the protocol's traffic: one thread, one epoll
// instance, and for every STX ... ETX frame that arrives the same fixed answer, with nothing
// between reading the request and writing the answer. Figures of the real server are given as
// ratios to it, measured in the same run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace daq::bench {

struct EchoLimitSettings {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;  // 0: any free port (see port())
    std::string answer;      // the bytes sent back for each request frame
    // Answers a connection may owe (it sends and does not read) before it is closed.
    std::size_t maxOwedAnswers = std::size_t{1} << 20;
};

// The size of the shortest padded answer (one with an empty pad).
inline constexpr std::size_t kShortestPaddedAnswer = 26;

// A frame of exactly `bytes` bytes (never fewer than kShortestPaddedAnswer): STX, a JSON
// object {"PS_ID":true,"PAD":"xxx..."}, ETX and the zero byte the server puts behind every
// frame.
std::string paddedAnswer(std::size_t bytes);

class EchoLimitServer {
  public:
    // Binds and listens; throws std::system_error when it cannot.
    explicit EchoLimitServer(EchoLimitSettings settings);
    ~EchoLimitServer();
    EchoLimitServer(const EchoLimitServer&) = delete;
    EchoLimitServer& operator=(const EchoLimitServer&) = delete;

    std::uint16_t port() const { return port_; }
    // Serves until stop().
    void run();
    // From any thread or a signal handler.
    void stop();

  private:
    struct Connection {
        bool open = false;
        bool inFrame = false;
        bool watchingWrites = false;
        std::size_t owed = 0;    // answers not yet written completely
        std::size_t offset = 0;  // bytes of the first owed answer already written
    };

    void acceptAll();
    void onReadable(int fd);
    void writeOwed(int fd);
    void watchWrites(int fd, bool on);
    void closeConnection(int fd);

    EchoLimitSettings settings_;
    int listener_ = -1;
    int epoll_ = -1;
    int stopEvent_ = -1;
    std::uint16_t port_ = 0;
    std::vector<Connection> connections_;  // by descriptor
    std::vector<char> receiveBuffer_;
};

}  // namespace daq::bench
