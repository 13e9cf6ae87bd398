#include "server/tcp/TcpServer.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include <asio/executor_work_guard.hpp>
#include <asio/ip/address_v4.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <asio/strand.hpp>

#include "server/tcp/TcpActivation.h"
#include "server/tcp/TcpListener.h"
#include "server/tcp/TcpSession.h"
#include "server/tcp/TimeoutSweep.h"
#include "server/tcp/WinsockCode.h"

namespace daq::tcp {

namespace {

// The activation whose io_context the current thread runs, to refuse a deactivate that would wait
// for its own thread.
thread_local const TcpActivation* runningActivation = nullptr;

void runIoThread(TcpActivation& activation) {
    runningActivation = &activation;
    // Handlers catch what the owner's events throw; anything else escaping run() is dropped so
    // that the thread keeps serving until the work runs out.
    while (true) {
        try {
            activation.io.run();
            break;
        } catch (...) {
        }
    }
}

asio::ip::tcp::endpoint endpointOf(const TcpBinding& binding) {
    if (binding.address.empty()) {
        return {asio::ip::address_v4::any(), binding.port};
    }
    std::error_code error;
    const auto address = asio::ip::make_address_v4(binding.address, error);
    if (error) {
        throw toSocketError(std::make_error_code(std::errc::invalid_argument),
                            "bind to \"" + binding.address + "\"");
    }
    return {address, binding.port};
}

}  // namespace

struct TcpServer::Impl {
    TcpServerEvents events;
    std::uint64_t lastId = 0;

    // Guards `activation` for the members callable from any thread.
    mutable std::mutex activationMutex;
    std::shared_ptr<TcpActivation> activation;
    std::atomic<bool> active{false};
    std::atomic<std::uint16_t> localPort{0};
    std::atomic<std::uint16_t> tlsPort{0};
    TlsContextPtr tlsContext;  // guarded by activationMutex

    std::vector<std::shared_ptr<TcpListener>> listeners;
    std::shared_ptr<TimeoutSweep> sweep;
    std::shared_ptr<asio::signal_set> reloadSignal;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::vector<std::thread> threads;

    std::shared_ptr<TcpActivation> currentActivation() const {
        std::lock_guard lock(activationMutex);
        return activation;
    }
};

TcpServer::TcpServer(TcpServerSettings settings)
    : settings_(std::move(settings)), impl_(std::make_unique<Impl>()) {
    // Zero threads would serve nothing; a zero-byte read would complete at once, over and over.
    settings_.ioThreads = std::max<std::size_t>(1, settings_.ioThreads);
    settings_.readChunkBytes = std::max<std::size_t>(1, settings_.readChunkBytes);
}

TcpServer::~TcpServer() {
    deactivate();
}

void TcpServer::setEvents(TcpServerEvents events) {
    impl_->events = std::move(events);
}

void TcpServer::addBinding(std::string address, std::uint16_t port, bool tls) {
    bindings_.push_back({std::move(address), port, tls});
}

void TcpServer::setTlsContext(TlsContextPtr context) {
    std::lock_guard lock(impl_->activationMutex);
    impl_->tlsContext = context;
    if (impl_->activation) {
        impl_->activation->tls.store(std::move(context));
    }
}

namespace {

// Hands every SIGHUP to the owner's reload event until the signal set is cancelled.
void awaitReloadSignal(const std::shared_ptr<asio::signal_set>& signals,
                       const std::shared_ptr<TcpActivation>& activation) {
    signals->async_wait([signals, activation](const std::error_code& error, int) {
        if (error) {
            return;
        }
        try {
            activation->events.onReloadSignal();
        } catch (const std::exception& handlerError) {
            activation->reportException(nullptr, handlerError);
        } catch (...) {
        }
        awaitReloadSignal(signals, activation);
    });
}

}  // namespace

void TcpServer::activate() {
    if (impl_->active) {
        return;
    }
    auto activation = std::make_shared<TcpActivation>(settings_, impl_->events, impl_->lastId);
    {
        std::lock_guard lock(impl_->activationMutex);
        activation->tls.store(impl_->tlsContext);
    }
    std::vector<TcpBinding> wanted = bindings_;
    if (wanted.empty()) {
        wanted.push_back({std::string(), settings_.defaultPort});
    }
    // Every listener binds before any thread starts; a failure throws and closes those bound.
    std::vector<std::shared_ptr<TcpListener>> listeners;
    for (const auto& binding : wanted) {
        if (binding.tls && !activation->tlsContext()) {
            throw std::logic_error("TcpServer: a TLS binding without a TLS context");
        }
        listeners.push_back(
            std::make_shared<TcpListener>(activation, endpointOf(binding), binding.tls));
    }

    impl_->work.emplace(activation->io.get_executor());
    for (std::size_t i = 0; i < settings_.ioThreads; ++i) {
        impl_->threads.emplace_back([activation] { runIoThread(*activation); });
    }
    for (const auto& listener : listeners) {
        listener->start();
    }
    impl_->sweep = std::make_shared<TimeoutSweep>(activation);
    impl_->sweep->start();
    if (impl_->events.onReloadSignal) {
        impl_->reloadSignal =
            std::make_shared<asio::signal_set>(asio::make_strand(activation->io), SIGHUP);
        awaitReloadSignal(impl_->reloadSignal, activation);
    }
    impl_->listeners = std::move(listeners);
    impl_->localPort = impl_->listeners.front()->port();
    const auto tlsListener = std::find_if(impl_->listeners.begin(), impl_->listeners.end(),
                                          [](const auto& listener) { return listener->tls(); });
    impl_->tlsPort = tlsListener != impl_->listeners.end() ? (*tlsListener)->port() : 0;
    {
        std::lock_guard lock(impl_->activationMutex);
        impl_->activation = std::move(activation);
    }
    impl_->active = true;
}

void TcpServer::deactivate() {
    const auto activation = impl_->currentActivation();
    if (!activation) {
        return;
    }
    if (runningActivation == activation.get()) {
        throw std::logic_error("TcpServer::deactivate called from one of its own IO threads");
    }
    impl_->active = false;
    for (const auto& listener : impl_->listeners) {
        listener->stop();
    }
    impl_->sweep->stop();
    if (const auto signals = std::exchange(impl_->reloadSignal, nullptr)) {
        asio::post(signals->get_executor(), [signals] { signals->cancel(); });
    }
    for (const auto& session : activation->registry.closeAll()) {
        session->close();
    }
    // The threads return once every socket, timer and handler of this activation is done.
    impl_->work.reset();
    for (auto& thread : impl_->threads) {
        thread.join();
    }
    impl_->threads.clear();
    impl_->listeners.clear();
    impl_->sweep.reset();
    impl_->localPort = 0;
    impl_->tlsPort = 0;
    impl_->lastId = activation->nextId - 1;
    std::lock_guard lock(impl_->activationMutex);
    impl_->activation.reset();
}

bool TcpServer::active() const {
    return impl_->active;
}

std::uint16_t TcpServer::localPort() const {
    return impl_->localPort;
}

std::uint16_t TcpServer::tlsPort() const {
    return impl_->tlsPort;
}

std::vector<ConnectionPtr> TcpServer::connections() const {
    const auto activation = impl_->currentActivation();
    return activation ? activation->registry.snapshot() : std::vector<ConnectionPtr>{};
}

std::size_t TcpServer::connectionCount() const {
    const auto activation = impl_->currentActivation();
    return activation ? activation->registry.size() : 0;
}

void TcpServer::injectFault(TcpFault fault) {
    const auto activation = impl_->currentActivation();
    if (!activation) {
        return;
    }
    switch (fault) {
        case TcpFault::NextAccept:
            activation->failNextAccept = true;
            break;
        case TcpFault::NextWrite:
            activation->failNextWrite = true;
            break;
    }
}

}  // namespace daq::tcp
