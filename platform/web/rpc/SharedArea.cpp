#include "platform/web/rpc/SharedArea.h"

#include <fcntl.h>
#include <limits>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norv::web::rpc {

namespace {

// Blocks start on cache lines, so that two blocks never share one.
constexpr std::size_t blockAlignment = 64;

std::size_t roundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

} // namespace

std::shared_ptr<SharedArea> SharedArea::create(std::size_t size) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (size == 0 || size > std::numeric_limits<std::uint32_t>::max() - page)
        return nullptr;
    size = roundUp(size, page);
    int fd = memfd_create("norv-bridge", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return nullptr;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        close(fd);
        return nullptr;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    return std::shared_ptr<SharedArea>(new SharedArea(fd, static_cast<std::uint8_t*>(data), size));
}

std::shared_ptr<SharedArea> SharedArea::adopt(int fd, std::size_t size) {
    struct stat st {};
    if (fd < 0 || size == 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) < size ||
        size > std::numeric_limits<std::uint32_t>::max()) {
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    return std::shared_ptr<SharedArea>(new SharedArea(fd, static_cast<std::uint8_t*>(data), size));
}

SharedArea::~SharedArea() {
    munmap(data_, size_);
    close(fd_);
}

std::span<std::uint8_t> SharedArea::range(std::uint32_t offset, std::uint32_t size) const {
    if (offset > size_ || size > size_ - offset)
        return {};
    return {data_ + offset, size};
}

std::optional<SharedBlock> SharedArea::reserve(std::size_t size) {
    if (size == 0 || size > size_)
        return std::nullopt;
    const std::size_t want = roundUp(size, blockAlignment);
    std::lock_guard lock(mutex_);
    // First fit between the blocks already reserved.
    std::size_t at = 0;
    for (auto [offset, length] : blocks_) {
        if (offset - at >= want)
            break;
        at = roundUp(offset + length, blockAlignment);
    }
    if (at > size_ || size_ - at < want)
        return std::nullopt;
    const auto offset = static_cast<std::uint32_t>(at);
    blocks_.emplace(offset, static_cast<std::uint32_t>(size));
    return SharedBlock(shared_from_this(), offset, static_cast<std::uint32_t>(size));
}

std::optional<std::pair<std::uint32_t, std::uint32_t>>
SharedArea::blockAt(const std::uint8_t* p) const {
    if (p < data_ || p >= data_ + size_)
        return std::nullopt;
    const auto offset = static_cast<std::uint32_t>(p - data_);
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(offset);
    if (it == blocks_.end())
        return std::nullopt;
    return std::pair{it->first, it->second};
}

std::optional<std::uint32_t> SharedArea::offsetInBlock(const std::uint8_t* p,
                                                       std::size_t size) const {
    if (p < data_ || p >= data_ + size_ || size > size_)
        return std::nullopt;
    const auto offset = static_cast<std::uint32_t>(p - data_);
    std::lock_guard lock(mutex_);
    auto it = blocks_.upper_bound(offset);
    if (it == blocks_.begin())
        return std::nullopt;
    --it; // the last block that starts at or before p
    if (std::uint64_t{offset} + size > std::uint64_t{it->first} + it->second)
        return std::nullopt;
    return offset;
}

std::size_t SharedArea::reserved() const {
    std::lock_guard lock(mutex_);
    std::size_t total = 0;
    for (auto [offset, length] : blocks_)
        total += length;
    return total;
}

void SharedArea::release(std::uint32_t offset) {
    std::lock_guard lock(mutex_);
    blocks_.erase(offset);
}

SharedBlock& SharedBlock::operator=(SharedBlock&& other) noexcept {
    if (this != &other) {
        if (area_)
            area_->release(offset_);
        area_ = std::move(other.area_);
        offset_ = other.offset_;
        size_ = other.size_;
    }
    return *this;
}

SharedBlock::~SharedBlock() {
    if (area_)
        area_->release(offset_);
}

std::span<std::uint8_t> SharedBlock::bytes() const {
    return area_ ? std::span<std::uint8_t>(area_->data() + offset_, size_)
                 : std::span<std::uint8_t>();
}

} // namespace norv::web::rpc
