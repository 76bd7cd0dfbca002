// libFuzzer target: any bytes handed to the texture image decoder (PNG,
// JPEG, BMP, TGA, GIF, PSD, HDR, PNM through stb_image; DDS read by us)
// either decode into exactly the pixels or blocks their size says, which
// expand to RGBA, or are refused with a reason at a memory cost of at most
// kMaxImageDecodeCost times their size (plus 1 MiB): stb_image allocates
// what the header claims before it finds the data damaged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fyrel::test::HeapMeasure heap;
    fyrel::Image image;
    std::string reason;
    if (fyrel::decodeImage(data, size, image, reason)) {
        fyrel::fuzz::checkImage(image);
    } else {
        fyrel::fuzz::require(!reason.empty() && image.data.empty());
        fyrel::fuzz::require(heap.peakAbove() <= fyrel::kMaxImageDecodeCost * size + (std::size_t{1} << 20));
    }
    return 0;
}
