// A TcpServer on 127.0.0.1 with a small frame-echo handler, and a record of every event it
// sees. Messages are answered as framed text, except a few commands:
//   "BIG:<n>"     one answer frame of n bytes
//   "REPEAT:<n>"  n answer frames, "0" to "n-1"
//   "CLOSE"       the unframed text {"PS_ID":true}, then close()
//   "THROW"       the handler throws std::runtime_error("handler failed")
//   "SILENT"      no answer
//   "HOLD"        runs EchoServer::onHold, then answers "HOLD"
//   "UNFRAMED:<t>" the text t as it is
//   "NOZERO:<t>"  STX t ETX, then "x" where the zero byte belongs
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/protocol/Frame.h"
#include "server/protocol/FrameReader.h"
#include "server/tcp/TcpServer.h"

namespace daq::tcp::testing {

struct ExceptionRecord {
    std::uint64_t connectionId;  // 0: a fault of the listener
    int code;                    // -1: not a SocketError
    std::string message;
};

class EventLog {
  public:
    // Waits, at most `limit`, until `done` holds; `done` runs under the log's lock.
    bool waitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, done);
    }

    template <class Action>
    void record(const Action& action) {
        {
            std::lock_guard lock(mutex_);
            action();
            ++events;
        }
        changed_.notify_all();
    }

    // Read under waitUntil(), or once the server is inactive.
    std::vector<std::uint64_t> connects;
    std::vector<std::uint64_t> disconnects;
    std::vector<std::uint64_t> idles;
    std::vector<ExceptionRecord> exceptions;
    std::vector<std::string> statuses;
    std::size_t answered = 0;  // messages whose answer is queued
    std::size_t events = 0;

    std::mutex& mutex() { return mutex_; }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

class EchoServer {
  public:
    // With a TLS context, a TLS binding listens beside the plain one.
    explicit EchoServer(TcpServerSettings settings = {}, TlsContextPtr tls = nullptr)
        : server(settings) {
        server.setEvents(events());
        server.addBinding("127.0.0.1", 0);
        if (tls) {
            server.setTlsContext(std::move(tls));
            server.addBinding("127.0.0.1", 0, true);
        }
        server.activate();
    }

    std::uint16_t port() const { return server.localPort(); }
    std::uint16_t tlsPort() const { return server.tlsPort(); }

    // Runs inside every disconnect event, before it is recorded.
    std::function<void()> onDisconnectHook;
    // Runs inside the data event of a "HOLD" message.
    std::function<void()> onHold;

    EventLog log;
    TcpServer server;

  private:
    TcpServerEvents events() {
        TcpServerEvents events;
        events.onConnect = [this](const ConnectionPtr& connection) {
            connection->setUserData(std::make_shared<protocol::FrameReader>());
            log.record([&] { log.connects.push_back(connection->id()); });
        };
        events.onData = [this](const ConnectionPtr& connection, std::string_view bytes) {
            // One message a call, as the server does.
            auto reader = std::static_pointer_cast<protocol::FrameReader>(connection->userData());
            std::size_t taken = 0;
            while (taken < bytes.size()) {
                const auto step = reader->feed(bytes.substr(taken));
                taken += step.consumed;
                if (step.status == protocol::FrameStatus::Good) {
                    if (reader->message() == "HOLD" && onHold) {
                        onHold();
                    }
                    answer(*connection, reader->message());
                    log.record([&] { ++log.answered; });
                    connection->setInputPending(false);
                    break;
                }
            }
            connection->setInputPending(reader->inputPending());
            return taken;
        };
        events.onDisconnect = [this](const ConnectionPtr& connection) {
            if (onDisconnectHook) {
                onDisconnectHook();
            }
            log.record([&] { log.disconnects.push_back(connection->id()); });
        };
        events.onIdle = [this](const ConnectionPtr& connection) {
            log.record([&] { log.idles.push_back(connection->id()); });
        };
        events.onStatus = [this](std::string_view text) {
            log.record([&] { log.statuses.emplace_back(text); });
        };
        events.onException = [this](const ConnectionPtr& connection, const std::exception& error) {
            const auto* socketError = dynamic_cast<const SocketError*>(&error);
            log.record([&] {
                log.exceptions.push_back({connection ? connection->id() : 0,
                                          socketError ? socketError->code() : -1, error.what()});
            });
        };
        return events;
    }

    static void answer(TcpConnection& connection, std::string_view message) {
        std::string frame;
        if (message.starts_with("BIG:")) {
            protocol::buildFrame(std::string(std::stoul(std::string(message.substr(4))), 'x'),
                                 frame);
            connection.write(frame);
        } else if (message.starts_with("REPEAT:")) {
            const int count = std::stoi(std::string(message.substr(7)));
            for (int i = 0; i < count; ++i) {
                protocol::buildFrame(std::to_string(i), frame);
                connection.write(frame);
            }
        } else if (message == "CLOSE") {
            connection.write(R"({"PS_ID":true})");
            connection.close();
        } else if (message == "THROW") {
            throw std::runtime_error("handler failed");
        } else if (message == "SILENT") {
        } else if (message.starts_with("UNFRAMED:")) {
            connection.write(message.substr(9));
        } else if (message.starts_with("NOZERO:")) {
            protocol::buildFrame(message.substr(7), frame, protocol::FrameTrailer::None);
            connection.write(frame + "x");
        } else {
            protocol::buildFrame(message, frame);
            connection.write(frame);
        }
    }
};

}  // namespace daq::tcp::testing
