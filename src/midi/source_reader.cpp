#include "midi/source_reader.h"

#include <algorithm>
#include <cstring>

namespace mid2nolt {

namespace {

// Largest single request to the stream. Small enough that a lying length costs
// at most one block beyond the real data, large enough to keep system calls few.
constexpr std::size_t kBlockSize = std::size_t{4} << 20;
// Requests start at this size and grow with what the stream has delivered, so
// that a small file declaring a huge track costs a small block, not a large one.
constexpr std::size_t kFirstBlockSize = std::size_t{64} << 10;

// The stream's size as far as seeking tells, or 0 when it cannot be told (pipes).
std::uint64_t seekableSize(std::FILE* stream) {
    const long start = std::ftell(stream);
    if (start < 0 || std::fseek(stream, 0, SEEK_END) != 0) {
        return 0;
    }
    const long end = std::ftell(stream);
    if (std::fseek(stream, start, SEEK_SET) != 0 || end < start) {
        return 0;
    }
    return static_cast<std::uint64_t>(end - start);
}

}  // namespace

SourceReader::SourceReader(std::FILE* stream) : stream_(stream) {}

bool SourceReader::fillTo(std::uint64_t size) {
    while (bytes_.size() < size && !ended_) {
        const std::size_t have = bytes_.size();
        // Ask for no more than is needed: a pipe's writer may keep it open
        // after the last byte that matters.
        const std::size_t block = std::clamp(have, kFirstBlockSize, kBlockSize);
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(block, size - have));
        bytes_.resize(have + chunk);
        const std::size_t got = std::fread(bytes_.data() + have, 1, chunk, stream_);
        bytes_.resize(have + got);
        if (got < chunk) {
            ended_ = true;
        }
        // Only once the stream has delivered real bytes is its reported size
        // trusted for a reservation (a directory opens, reports a size, and
        // reads nothing). The reservation saves the copies of a growing buffer.
        if (!reserved_ && got > 0) {
            reserved_ = true;
            const std::uint64_t rest = seekableSize(stream_);
            if (rest > 0 && rest < (std::uint64_t{1} << 40)) {
                // Room for every byte and the one request that finds the end.
                const auto total = static_cast<std::size_t>(bytes_.size() + rest);
                bytes_.reserve(total + std::clamp(total, kFirstBlockSize, kBlockSize));
            }
        }
    }
    return bytes_.size() >= size;
}

bool SourceReader::read(void* dest, std::size_t count) {
    if (!advance(count)) {
        return false;
    }
    if (count > 0) {
        std::memcpy(dest, bytes_.data() + (position_ - count), count);
    }
    return true;
}

bool SourceReader::advance(std::uint64_t count) {
    if (!fillTo(position_ + count)) {
        position_ = std::max<std::uint64_t>(position_, bytes_.size());
        return false;
    }
    position_ += count;
    return true;
}

void SourceReader::skip(std::uint64_t count) {
    position_ += count;
}

}  // namespace mid2nolt
