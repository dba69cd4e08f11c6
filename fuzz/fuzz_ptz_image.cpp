// PtzImage::readBytes and the download's validity check fed .bin files. Valid is exactly 64660
// bytes whose little-endian words sum to 0, summed here on their own; a read takes the first
// 64660 bytes or, for fewer, fails and leaves the image as it was. Each slot decodes and encodes
// back to its bytes, and an image saved with its checksum reads back the same and is valid.
#include "core/ptz/ptz_image.h"
#include "fuzz_check.h"

#include <algorithm>

namespace {

constexpr std::size_t ImageSize = 64660;
constexpr std::size_t RecordSize = 1796;

std::uint32_t wordSum(const std::uint8_t* bytes, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 4 <= size; i += 4)
        sum += std::uint32_t{bytes[i]} | std::uint32_t{bytes[i + 1]} << 8 |
               std::uint32_t{bytes[i + 2]} << 16 | std::uint32_t{bytes[i + 3]} << 24;
    return sum;
}

// An image the fuzzed bytes cannot be mistaken for: slot 0 numbered 7, the rest empty.
tolvane::PtzImage imageBefore()
{
    tolvane::PtzImage image;
    tolvane::PtzProtocol record;
    record.number = 7;
    record.setName("before");
    FUZZ_CHECK(image.SetAt(0, record) == 1);
    image.UpdateChecksum();
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using tolvane::PtzImage;
    static const PtzImage before = imageBefore();

    const bool valid = PtzImage::IsValidFile(data, size);
    FUZZ_CHECK(valid == (size == ImageSize && wordSum(data, size) == 0));

    PtzImage image = before;
    const auto result = image.readBytes({data, size});
    const int read = result ? 1 : 0;
    FUZZ_CHECK(read == (size >= ImageSize ? 1 : 0));
    FUZZ_CHECK(result || !result.failure().text().empty());
    if (read == 0) {
        FUZZ_CHECK(image.Bytes() == before.Bytes());
        return 0;
    }
    FUZZ_CHECK(std::equal(image.Bytes().begin(), image.Bytes().end(), data));

    for (int slot = 0; slot < PtzImage::SlotCount; ++slot) {
        tolvane::PtzProtocol record;
        FUZZ_CHECK(image.GetAt(slot, record) == 1);
        const auto bytes = record.toBytes();
        FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), data + 4 + slot * RecordSize));
    }

    // The save: the checksum updated, the slots untouched; already right for a valid file.
    image.UpdateChecksum();
    const auto& saved = image.Bytes();
    FUZZ_CHECK(PtzImage::IsValidFile(saved.data(), saved.size()));
    FUZZ_CHECK(std::equal(saved.begin() + 4, saved.end(), data + 4));
    if (valid)
        FUZZ_CHECK(std::equal(saved.begin(), saved.end(), data));

    PtzImage reloaded = before;
    FUZZ_CHECK(reloaded.readBytes(saved) && reloaded.Bytes() == saved);
    return 0;
}
