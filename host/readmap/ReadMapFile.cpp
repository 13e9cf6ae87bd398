// The IO map: the records of a DAQ run and, while open, one header record per entry that the
// host keeps writing current values into.
#include "kelvane/ReadMapFile.h"

#include <memory>
#include <new>
#include <vector>

#include "host/readmap/MapRegistry.h"

namespace kelvane {

struct TReadMapFile::Impl {
    std::mutex headerLock;
    std::vector<TIOList*> entries;
    // Present while the map is open; registered with the process's open maps meanwhile.
    std::unique_ptr<TMapHeader[]> headers;
    int32_t headerCount = 0;
    std::unique_ptr<host::OpenMap> open;
};

TReadMapFile::TReadMapFile() : impl_(new Impl) {}

TReadMapFile::~TReadMapFile() {
    Close();
    delete impl_;
}

void TReadMapFile::Clear() {
    Close();
    impl_->entries.clear();
}

void TReadMapFile::Add(TIOList* io) {
    impl_->entries.push_back(io);
}

int32_t TReadMapFile::Open(bool /*create: headers are always made afresh*/) {
    Close();
    if (host::openFailure()) {
        return 0;
    }
    const auto count = static_cast<int32_t>(impl_->entries.size());
    try {
        auto headers = std::make_unique<TMapHeader[]>(count);  // zeroed: no value yet
        auto open = std::make_unique<host::OpenMap>();
        open->headerLock = &impl_->headerLock;
        open->headers = headers.get();
        open->entriesOf.reserve(count);
        for (int32_t i = 0; i < count; ++i) {
            headers[i].Index = i;
            open->entriesOf.emplace(impl_->entries[i], i);
        }
        {
            std::lock_guard lock(impl_->headerLock);
            impl_->headers = std::move(headers);
            impl_->headerCount = count;
        }
        impl_->open = std::move(open);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    host::MapRegistry::instance().attach(impl_->open.get());
    return 1;
}

void TReadMapFile::Close() {
    if (impl_->open) {
        host::MapRegistry::instance().detach(impl_->open.get());
        impl_->open.reset();
    }
    std::lock_guard lock(impl_->headerLock);
    impl_->headers.reset();
    impl_->headerCount = 0;
}

int32_t TReadMapFile::GetCount() const {
    return static_cast<int32_t>(impl_->entries.size());
}

TMapHeader* TReadMapFile::GetHeader(int32_t i) {
    if (i < 0 || i >= impl_->headerCount) {
        return nullptr;
    }
    return &impl_->headers[i];
}

TIOList* TReadMapFile::GetIOList(int32_t i) {
    if (i < 0 || i >= GetCount()) {
        return nullptr;
    }
    return impl_->entries[i];
}

std::mutex& TReadMapFile::HeaderLock() {
    return impl_->headerLock;
}

}  // namespace kelvane
