#include "server/tcp/ConnectionRegistry.h"

#include "server/tcp/TcpSession.h"

namespace daq::tcp {

ConnectionRegistry::AddResult ConnectionRegistry::add(const std::shared_ptr<TcpSession>& session,
                                                      std::uint64_t id) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return AddResult::Closed;
    }
    if (sessions_.size() >= maxConnections_) {
        return AddResult::Full;
    }
    sessions_.emplace(id, session);
    return AddResult::Added;
}

void ConnectionRegistry::remove(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    sessions_.erase(id);
}

std::vector<std::shared_ptr<TcpSession>> ConnectionRegistry::closeAll() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    std::vector<std::shared_ptr<TcpSession>> live;
    live.reserve(sessions_.size());
    for (const auto& [id, session] : sessions_) {
        live.push_back(session);
    }
    return live;
}

std::vector<ConnectionPtr> ConnectionRegistry::snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<ConnectionPtr> live;
    live.reserve(sessions_.size());
    for (const auto& [id, session] : sessions_) {
        live.push_back(session);
    }
    return live;
}

std::vector<std::shared_ptr<TcpSession>> ConnectionRegistry::select(
    const std::function<bool(const TcpSession&)>& wanted) const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<TcpSession>> selected;
    for (const auto& [id, session] : sessions_) {
        if (wanted(*session)) {
            selected.push_back(session);
        }
    }
    return selected;
}

std::size_t ConnectionRegistry::size() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

}  // namespace daq::tcp
