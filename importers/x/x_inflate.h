#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Inflating the MSZIP data of a compressed .X file ("tzip" and "bzip").
//
// After the 16-byte file header, a compressed file holds a 32-bit total: the
// size of the whole uncompressed file, header included. Blocks follow to the
// end of the file, each a 16-bit uncompressed size (at most 32 KiB), a 16-bit
// compressed size that counts the block's two signature bytes "CK", the
// signature and a raw deflate stream. The blocks share one history: a block's
// back-references may reach into the previous 32 KiB of output, so each block
// is inflated with that output as its preset dictionary.

namespace fyrel {

// Inflated data larger than this is refused before and while inflating, so a
// small file that announces or produces gigabytes fails at once.
inline constexpr std::size_t kMaxXInflatedSize = std::size_t{256} * 1024 * 1024;

// Inflates the blocks in [data, data + size) (the bytes after the 16-byte
// header) into the uncompressed data that follows the header. Throws
// XReadError naming the block and offset when a block is cut off, lacks its
// signature, does not inflate to its announced size, or when the total
// differs from the announced one or exceeds maxSize. Offsets in messages count
// from the start of the file.
std::vector<std::uint8_t> inflateMsZip(const std::uint8_t* data, std::size_t size,
                                       std::size_t maxSize = kMaxXInflatedSize);

}  // namespace fyrel
