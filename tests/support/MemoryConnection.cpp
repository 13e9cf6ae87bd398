#include "tests/support/MemoryConnection.h"

namespace daq::test {

void MemoryConnection::write(std::string_view bytes) {
    if (!connected_) {
        return;
    }
    std::lock_guard lock(mutex_);
    writes_.emplace_back(bytes);
}

void MemoryConnection::setUserData(std::shared_ptr<void> data) {
    std::lock_guard lock(mutex_);
    userData_ = std::move(data);
}

std::shared_ptr<void> MemoryConnection::userData() const {
    std::lock_guard lock(mutex_);
    return userData_;
}

std::vector<std::string> MemoryConnection::takeWrites() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> taken;
    taken.swap(writes_);
    return taken;
}

}  // namespace daq::test
