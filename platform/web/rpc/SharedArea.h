#pragma once
// Shared memory of one bridge connection, for bulk bytes (sample buffers) that should not
// travel through the socket.
//
// The UI process creates the area (an anonymous memory file) when it accepts a page, maps
// it, and passes its descriptor with the greeting; the web process maps the same pages. A
// message then names a block by offset and size (a SharedBytes value), and script sees it
// as a Uint8Array over that memory: what script writes there is what the UI reads back.
//
// The area is sealed against shrinking and growing before it is passed, so the web
// process cannot cut the pages from under the UI's mapping (which would make the UI's
// reads fault). Its content is the peer's to change at any time: treat it as untrusted.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

namespace norv::web::rpc {

class SharedBlock;

class SharedArea : public std::enable_shared_from_this<SharedArea> {
public:
    // A new sealed area of `size` bytes (rounded up to whole pages); null when the system
    // cannot make one.
    static std::shared_ptr<SharedArea> create(std::size_t size);
    // Maps an area the peer created; takes `fd`. Null when the descriptor is not a memory
    // file of at least `size` bytes or cannot be mapped.
    static std::shared_ptr<SharedArea> adopt(int fd, std::size_t size);

    ~SharedArea();
    SharedArea(const SharedArea&) = delete;
    SharedArea& operator=(const SharedArea&) = delete;

    int fd() const { return fd_; }
    std::size_t size() const { return size_; }
    std::uint8_t* data() const { return data_; }

    // The bytes [offset, offset + size) when they lie inside the area; empty otherwise.
    std::span<std::uint8_t> range(std::uint32_t offset, std::uint32_t size) const;

    // Reserves a block of `size` bytes (at least one) for the caller until the block is
    // destroyed; nullopt when there is no room. Any thread.
    std::optional<SharedBlock> reserve(std::size_t size);
    // The offset and size of the reserved block that starts at `p`; nullopt when `p` is
    // not the start of one.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> blockAt(const std::uint8_t* p) const;
    // The offset of the bytes [p, p + size) when they lie inside one reserved block (a
    // sample in a block that holds several, say); nullopt otherwise.
    std::optional<std::uint32_t> offsetInBlock(const std::uint8_t* p, std::size_t size) const;
    // Bytes reserved now.
    std::size_t reserved() const;

private:
    friend class SharedBlock;
    SharedArea(int fd, std::uint8_t* data, std::size_t size) : fd_(fd), data_(data), size_(size) {}
    void release(std::uint32_t offset);

    int fd_;
    std::uint8_t* data_;
    std::size_t size_;
    mutable std::mutex mutex_;
    std::map<std::uint32_t, std::uint32_t> blocks_; // offset -> size
};

// A reservation in a SharedArea; gives its bytes back when destroyed.
class SharedBlock {
public:
    SharedBlock(SharedBlock&& other) noexcept
        : area_(std::move(other.area_)), offset_(other.offset_), size_(other.size_) {}
    SharedBlock& operator=(SharedBlock&& other) noexcept;
    ~SharedBlock();

    std::uint32_t offset() const { return offset_; }
    std::uint32_t size() const { return size_; }
    std::span<std::uint8_t> bytes() const;

private:
    friend class SharedArea;
    SharedBlock(std::shared_ptr<SharedArea> area, std::uint32_t offset, std::uint32_t size)
        : area_(std::move(area)), offset_(offset), size_(size) {}

    std::shared_ptr<SharedArea> area_;
    std::uint32_t offset_ = 0;
    std::uint32_t size_ = 0;
};

} // namespace norv::web::rpc
