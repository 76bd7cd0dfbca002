#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// The one reader of little-endian binary data for every importer. It reads
// from a bounded byte range [data, data + size) that the caller owns.
//
// Why: a file can say anything about its own sizes. Every count, length and
// offset read from it is checked against what remains before anything is
// read by it, in a form that cannot overflow: fits(count, recordSize) is
// count <= remaining() / recordSize, never count * recordSize <= remaining().
//
// What is checked: nothing by the readers themselves. u8 to text and skip
// read or step over bytes that fits() (or remaining()) has vouched for; a
// read past the end is a fault of our code, caught by assert in debug
// builds. The reader throws nothing: the importer that finds a record that
// does not fit says so in its own words (an ImportError naming the file).

namespace fyrel {

// Little-endian values at p, which must hold the bytes.
inline std::uint16_t loadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t loadU32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

inline float loadF32(const std::uint8_t* p)
{
    return std::bit_cast<float>(loadU32(p));
}

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : begin_(data), p_(data), end_(data + size) {}

    std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
    std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }  // from the start of the range
    const std::uint8_t* here() const { return p_; }

    // Whether count records of recordSize bytes fit in what remains, written so
    // that it cannot overflow.
    bool fits(std::size_t count, std::size_t recordSize) const { return count <= remaining() / recordSize; }

    // Whole records of recordSize bytes that remain.
    std::size_t wholeRecords(std::size_t recordSize) const { return remaining() / recordSize; }

    // The readers below are called only after fits() has vouched for them.
    std::uint8_t u8()
    {
        assert(remaining() >= 1);
        return *p_++;
    }
    std::int8_t i8() { return static_cast<std::int8_t>(u8()); }

    std::uint16_t u16()
    {
        assert(remaining() >= 2);
        const std::uint16_t v = loadU16(p_);
        p_ += 2;
        return v;
    }

    std::uint32_t u32()
    {
        assert(remaining() >= 4);
        const std::uint32_t v = loadU32(p_);
        p_ += 4;
        return v;
    }

    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    float f32() { return std::bit_cast<float>(u32()); }

    void floats(float* out, int count)
    {
        for (int i = 0; i < count; ++i) {
            out[i] = f32();
        }
    }

    // A fixed text field: its bytes up to the first zero, or all of them.
    std::string text(std::size_t fieldSize)
    {
        assert(remaining() >= fieldSize);
        const auto* zero = static_cast<const std::uint8_t*>(std::memchr(p_, 0, fieldSize));
        const std::size_t length = zero ? static_cast<std::size_t>(zero - p_) : fieldSize;
        std::string s(reinterpret_cast<const char*>(p_), length);
        p_ += fieldSize;
        return s;
    }

    void skip(std::size_t n)
    {
        assert(remaining() >= n);
        p_ += n;
    }

private:
    const std::uint8_t* begin_;
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

}  // namespace fyrel
