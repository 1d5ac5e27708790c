// Messages from one thread to one other, without a lock: a ring of bytes
// made at construction, each message its length (4 bytes) and its bytes.
// push and pop never allocate or wait, so either side may be the audio
// thread; a message that does not fit is refused whole. Sizes: bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

class MessageRing {
public:
    // `room`: the bytes the ring holds, lengths included.
    explicit MessageRing(uint32_t room) : bytes(room, 0) {}

    MessageRing(const MessageRing&) = delete;
    MessageRing& operator=(const MessageRing&) = delete;

    // The largest message that fits now (the writer's view).
    uint32_t space() const {
        uint64_t used = head.load(std::memory_order_relaxed) - tail.load(std::memory_order_acquire);
        uint64_t free = bytes.size() - used;
        return free > sizeof(uint32_t) ? static_cast<uint32_t>(free - sizeof(uint32_t)) : 0;
    }

    // Writer side: false, and nothing written, when it does not fit.
    bool push(const void* data, uint32_t size) {
        if (size > space()) return false;
        uint64_t at = head.load(std::memory_order_relaxed);
        copyIn(at, &size, sizeof size);
        copyIn(at + sizeof size, data, size);
        head.store(at + sizeof size + size, std::memory_order_release);
        return true;
    }

    // Reader side: the next message's length, 0 when none waits.
    uint32_t next() const {
        uint64_t at = tail.load(std::memory_order_relaxed);
        if (head.load(std::memory_order_acquire) == at) return 0;
        uint32_t size = 0;
        copyOut(at, &size, sizeof size);
        return size;
    }

    // Reader side: takes the next message into `out` (room for next()
    // bytes); its length, 0 when none waits or `room` is too small (then
    // it is dropped, so that one message too large cannot stop the ring).
    uint32_t pop(void* out, uint32_t room) {
        uint32_t size = next();
        if (size == 0) return 0;
        uint64_t at = tail.load(std::memory_order_relaxed);
        if (size <= room) copyOut(at + sizeof size, out, size);
        tail.store(at + sizeof size + size, std::memory_order_release);
        return size <= room ? size : 0;
    }

private:
    void copyIn(uint64_t at, const void* data, uint32_t n) {
        size_t start = static_cast<size_t>(at % bytes.size());
        size_t first = n < bytes.size() - start ? n : bytes.size() - start;
        std::memcpy(bytes.data() + start, data, first);
        std::memcpy(bytes.data(), static_cast<const char*>(data) + first, n - first);
    }
    void copyOut(uint64_t at, void* out, uint32_t n) const {
        size_t start = static_cast<size_t>(at % bytes.size());
        size_t first = n < bytes.size() - start ? n : bytes.size() - start;
        std::memcpy(out, bytes.data() + start, first);
        std::memcpy(static_cast<char*>(out) + first, bytes.data(), n - first);
    }

    std::vector<char> bytes;
    std::atomic<uint64_t> head{0};  // bytes ever written
    std::atomic<uint64_t> tail{0};  // bytes ever read
};
