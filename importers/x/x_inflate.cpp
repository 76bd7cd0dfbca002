#include "importers/x/x_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "importers/byte_reader.h"
#include "importers/x/x_tokenizer.h"

namespace fyrel {

namespace {

constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kMaxBlockBytes = 32768;

[[noreturn]] void fail(const std::string& what, std::size_t offset)
{
    throw XReadError(what + " at byte offset " + std::to_string(offset + kHeaderBytes));
}

// One raw-deflate stream, reset for every block and freed on every path.
class RawInflater {
public:
    RawInflater()
    {
        if (inflateInit2(&stream_, -15) != Z_OK) {
            throw XReadError("the inflater could not be set up");
        }
    }
    ~RawInflater() { inflateEnd(&stream_); }
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // Inflates in into out exactly; the history is the dictionary.
    bool inflateBlock(const std::uint8_t* in, std::size_t inBytes, const std::uint8_t* history,
                      std::size_t historyBytes, std::uint8_t* out, std::size_t outBytes)
    {
        if (inflateReset(&stream_) != Z_OK) {
            return false;
        }
        if (historyBytes > 0 &&
            inflateSetDictionary(&stream_, history, static_cast<uInt>(historyBytes)) != Z_OK) {
            return false;
        }
        stream_.next_in = const_cast<Bytef*>(in);
        stream_.avail_in = static_cast<uInt>(inBytes);
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(outBytes);
        int result = inflate(&stream_, Z_FINISH);
        return result == Z_STREAM_END && stream_.avail_out == 0;
    }

private:
    z_stream stream_{};
};

}  // namespace

std::vector<std::uint8_t> inflateMsZip(const std::uint8_t* data, std::size_t size, std::size_t maxSize)
{
    ByteReader in(data, size);
    if (!in.fits(1, 4)) {
        fail("compressed data without its size", 0);
    }
    const std::uint32_t total = in.u32();
    if (total < kHeaderBytes) {
        fail("an uncompressed size of " + std::to_string(total) + " bytes, smaller than the header", 0);
    }
    std::size_t expected = total - kHeaderBytes;
    if (expected > maxSize) {
        fail("an uncompressed size of " + std::to_string(total) + " bytes, more than the " +
                 std::to_string(maxSize) + " this file may inflate to",
             0);
    }

    // Sized once: growing block by block would hold up to three times the
    // data while it moves.
    std::vector<std::uint8_t> out;
    out.reserve(expected);
    RawInflater inflater;
    for (int block = 1; out.size() < expected; ++block) {
        std::string name = "compressed block " + std::to_string(block);
        const std::size_t at = in.offset();
        if (!in.fits(1, 4)) {
            fail(name + " cut off by the end of the file (" + std::to_string(out.size()) + " of " +
                     std::to_string(expected) + " bytes inflated)",
                 at);
        }
        const std::size_t rawBytes = in.u16();
        const std::size_t packedBytes = in.u16();
        if (rawBytes == 0 || rawBytes > kMaxBlockBytes) {
            fail(name + " announcing " + std::to_string(rawBytes) + " bytes (a block holds 1 to 32768)", at);
        }
        if (rawBytes > expected - out.size()) {
            fail(name + " inflating past the announced size of " + std::to_string(total) + " bytes", at);
        }
        if (packedBytes < 2 || !in.fits(1, packedBytes)) {
            fail(name + " cut off by the end of the file", at);
        }
        const std::uint8_t* packed = in.here();
        if (packed[0] != 'C' || packed[1] != 'K') {
            fail(name + " without its \"CK\" signature", in.offset());
        }
        std::size_t start = out.size();
        std::size_t historyBytes = std::min(start, kMaxBlockBytes);
        out.resize(start + rawBytes);
        if (!inflater.inflateBlock(packed + 2, packedBytes - 2, out.data() + start - historyBytes,
                                   historyBytes, out.data() + start, rawBytes)) {
            fail(name + " that does not inflate to its announced " + std::to_string(rawBytes) + " bytes", at);
        }
        in.skip(packedBytes);
    }
    return out;
}

}  // namespace fyrel
