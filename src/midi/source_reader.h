#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace mid2nolt {

// Sequential reader over an open source stream. Every byte read is kept in one
// buffer, so that track chunks can later point into it instead of being copied.
// Bytes are fetched from the stream in bounded blocks, on demand: a length field
// in the file can ask for anything, but the buffer only ever holds bytes that
// the stream really delivered. Works the same for regular files and pipes.
class SourceReader {
public:
    explicit SourceReader(std::FILE* stream);

    // Copies `count` bytes to `dest` and moves past them. When fewer are left,
    // moves to the end and returns false; `dest` is then left unchanged.
    bool read(void* dest, std::size_t count);

    // Moves past `count` bytes that must all be present. When fewer are left,
    // moves to the end and returns false.
    bool advance(std::uint64_t count);

    // Moves `count` bytes forward. Moving past the end is allowed: the next
    // read then fails.
    void skip(std::uint64_t count);

    // Offset of the next byte to read, from the start of the stream.
    std::uint64_t position() const { return position_; }

    // Hands over every byte read so far; the reader must not be used afterwards.
    std::vector<std::uint8_t> takeBytes() { return std::move(bytes_); }

private:
    // Reads until at least `size` bytes are buffered or the stream ends.
    bool fillTo(std::uint64_t size);

    std::FILE* stream_;
    std::vector<std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
    bool ended_ = false;
    bool reserved_ = false;
};

}  // namespace mid2nolt
