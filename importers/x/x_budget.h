#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The working memory one .X file may take while it is read and its frame
// hierarchy built: kXMemoryPerFileByte bytes for every byte of the file as
// stored, plus kXMemoryAllowance. Everything that grows with the file is
// counted against it before (or as) it is allocated: the inflated data of a
// compressed file, the objects, values, names and references the reader
// keeps, declared templates, the meshes, materials and skins the frame list
// (x_hierarchy.h) builds, and its frames and mesh uses. A file that would
// need more is refused, so no file can make the reader hold more than about
// that much, however far its compressed blocks inflate or however often its
// references repeat a mesh. Real files need a few times their size
// (compressed ones a few times their inflated size).
//
// Counts are upper bounds of what the heap holds: a vector that grows by
// appending is counted at kXGrowthFactor times its elements, as it may hold
// that much while it moves to a larger block. The converted Model is not
// counted: once the hierarchy is built, the conversion cannot fail. With the
// few fixed-size tables the reader needs besides (the standard templates, the
// inflater's window), a file never takes more than 100 times its size plus
// 1 MiB to read or to refuse.

namespace fyrel {

inline constexpr std::uint64_t kXMemoryPerFileByte = 96;
inline constexpr std::uint64_t kXMemoryAllowance = 896 * 1024;
inline constexpr std::uint64_t kXGrowthFactor = 3;

// The allocator's share of every block it hands out.
inline constexpr std::uint64_t kXAllocOverhead = 16;

// Heap bytes of a string of the given length: none while it fits in the
// string object itself (15 characters in the smallest such buffer).
inline constexpr std::uint64_t xStringHeapBytes(std::size_t length)
{
    return length > 15 ? length + 1 + kXAllocOverhead : 0;
}

class XMemoryBudget {
public:
    explicit XMemoryBudget(std::size_t fileBytes = 0)
        : fileBytes_(fileBytes), limit_(std::uint64_t{fileBytes} * kXMemoryPerFileByte + kXMemoryAllowance)
    {
    }

    // Counts bytes more and returns true, or returns false (counting
    // nothing) when they do not fit in what is left.
    bool take(std::uint64_t bytes)
    {
        if (bytes > limit_ - used_) {
            return false;
        }
        used_ += bytes;
        return true;
    }

    std::uint64_t left() const { return limit_ - used_; }
    std::uint64_t used() const { return used_; }
    std::uint64_t limit() const { return limit_; }

    // Why a file was refused, for the debug output.
    std::string refusal() const
    {
        return "the file needs more working memory than a file of " + std::to_string(fileBytes_) +
               " bytes may take (" + std::to_string(limit_) + " bytes: " + std::to_string(kXMemoryPerFileByte) +
               " per byte of the file and " + std::to_string(kXMemoryAllowance / 1024) + " KiB)";
    }

private:
    std::size_t fileBytes_;
    std::uint64_t limit_;
    std::uint64_t used_ = 0;
};

}  // namespace fyrel
