// echo-limit: answers every request frame with a fixed answer, as fast as one thread can, to
// give the limit of this machine for the protocol's traffic. Give it the size of the real answer
// (--answer-bytes) or the real answer itself (--answer-file, captured with daqbench --capture).
#include <signal.h>
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "bench/echo-limit/EchoLimitServer.h"

namespace {

daq::bench::EchoLimitServer* running = nullptr;

void onSignal(int) {
    if (running != nullptr) {
        running->stop();
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Limit server of the protocol's traffic: one thread, a fixed answer per frame",
                 "echo-limit"};
    daq::bench::EchoLimitSettings settings;
    std::size_t answerBytes = 0;
    std::string answerFile;
    app.add_option("--address", settings.address, "IPv4 address to listen on")
        ->capture_default_str();
    app.add_option("-p,--port", settings.port, "Port (0: any free one, printed at start)")
        ->capture_default_str();
    auto* bytes = app.add_option("--answer-bytes", answerBytes,
                                 "Answer with a padded frame of this many bytes")
                      ->check(CLI::Range(daq::bench::kShortestPaddedAnswer, std::size_t{64} << 20));
    auto* file = app.add_option("--answer-file", answerFile,
                                "Answer with the bytes of this file (a captured answer frame)")
                     ->check(CLI::ExistingFile);
    bytes->excludes(file);
    CLI11_PARSE(app, argc, argv);

    if (!answerFile.empty()) {
        std::ifstream in(answerFile, std::ios::binary);
        settings.answer.assign(std::istreambuf_iterator<char>(in), {});
    } else {
        settings.answer = daq::bench::paddedAnswer(answerBytes == 0 ? 50 : answerBytes);
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    try {
        daq::bench::EchoLimitServer server(settings);
        running = &server;
        signal(SIGINT, onSignal);
        signal(SIGTERM, onSignal);
        std::printf("echo-limit listening on %s:%u, %zu-byte answers\n", settings.address.c_str(),
                    server.port(), settings.answer.size());
        std::fflush(stdout);
        server.run();
        running = nullptr;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "echo-limit: %s\n", error.what());
        return 1;
    }
    return 0;
}
