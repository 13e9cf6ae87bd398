// Connections that write and never read, on one epoll instance: either the mix's requests back
// to back as long as the socket takes them (a client stuck in its reading), or one frame that
// never ends (STX, then a chunk at every interval). What counts is when the server closes each.
#pragma once

#include <string>
#include <vector>

#include "tools/daqbench/LoadThread.h"

namespace daqbench {

class SilentWriter final : public LoadThread {
  public:
    explicit SilentWriter(const WorkerPlan& plan);
    ~SilentWriter() override;
    SilentWriter(const SilentWriter&) = delete;
    SilentWriter& operator=(const SilentWriter&) = delete;

    void connectAll() override;
    // Returns at timeline.stopAt or when the server has closed every connection.
    void run(const Timeline& timeline) override;
    const WorkerResult& result() const override { return result_; }

  private:
    struct Connection {
        int fd = -1;
        Clock::time_point connectedAt;
        std::size_t offset = 0;  // stuck: where in the pipeline the next write starts
        bool started = false;    // endless frame: STX written
    };

    void fillPipeline(Connection& connection, Clock::time_point now);
    void writeChunk(Connection& connection, Clock::time_point now);
    // False when the write found the connection closed.
    bool writeSome(Connection& connection, const char* data, std::size_t size, std::size_t& written,
                   Clock::time_point now);
    void closedByServer(Connection& connection, Clock::time_point now);

    WorkerPlan plan_;
    int epoll_ = -1;
    std::vector<Connection> connections_;
    std::string pipeline_;  // stuck: requests of the mix, repeated, written round and round
    std::string login_;     // stuck with loginFirst: written once before them
    std::string chunk_;     // endless frame: bytes that are neither STX nor ETX
    int open_ = 0;
    WorkerResult result_;
};

}  // namespace daqbench
