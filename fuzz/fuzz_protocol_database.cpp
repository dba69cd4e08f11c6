// PtzProtocolList::loadBytes fed .pdb files. What a load must give is worked out from the bytes
// alone: no "PD" header leaves the list as it was; a count of zero or less loads an empty list; a
// count the file holds whole loads exactly those records, byte for byte; any other count fails
// and empties the list. A save of what was loaded, loaded again, saves the same bytes.
#include "core/ptz/ptz_protocol_list.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t HeaderSize = 12;
constexpr std::size_t RecordSize = 1796;

std::uint32_t le32(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// Two records the fuzzed bytes cannot hold: numbers 40 and 41 with every other byte 0xA5.
tolvane::PtzProtocolList listBefore()
{
    std::vector<std::uint8_t> bytes(HeaderSize + 2 * RecordSize, 0xA5);
    const std::uint8_t header[HeaderSize] = {'P', 'D', 1, 0, 0x04, 0x07, 0, 0, 2, 0, 0, 0};
    std::memcpy(bytes.data(), header, HeaderSize);
    const std::uint8_t numbers[2][4] = {{40, 0, 0, 0}, {41, 0, 0, 0}};
    std::memcpy(bytes.data() + HeaderSize, numbers[0], 4);
    std::memcpy(bytes.data() + HeaderSize + RecordSize, numbers[1], 4);
    tolvane::PtzProtocolList list;
    FUZZ_CHECK(list.loadBytes(bytes) && list.GetCount() == 2);
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const tolvane::PtzProtocolList before = listBefore();
    static const std::vector<std::uint8_t> beforeBytes = before.SaveBytes();

    tolvane::PtzProtocolList list = before;
    const auto load = list.loadBytes({data, size});
    const int loaded = load ? 1 : 0;
    FUZZ_CHECK(load || !load.failure().text().empty());

    if (size < HeaderSize || data[0] != 'P' || data[1] != 'D') {
        FUZZ_CHECK(loaded == 0 && list.SaveBytes() == beforeBytes);
        return 0;
    }
    const auto count = static_cast<std::int32_t>(le32(data + 8));
    const std::size_t whole = (size - HeaderSize) / RecordSize;
    if (count > 0 && static_cast<std::size_t>(count) > whole) {
        FUZZ_CHECK(loaded == 0 && list.GetCount() == 0);
        return 0;
    }
    const std::size_t records = count > 0 ? static_cast<std::size_t>(count) : 0;
    FUZZ_CHECK(loaded == 1 && list.GetCount() == static_cast<int>(records));

    // The save: a header of this format, then the records as the file held them.
    const std::vector<std::uint8_t> saved = list.SaveBytes();
    FUZZ_CHECK(saved.size() == HeaderSize + records * RecordSize);
    const std::uint8_t header[8] = {'P', 'D', 1, 0, 0x04, 0x07, 0, 0};
    FUZZ_CHECK(std::equal(header, header + 8, saved.begin()));
    FUZZ_CHECK(le32(saved.data() + 8) == records);
    FUZZ_CHECK(std::equal(saved.begin() + HeaderSize, saved.end(), data + HeaderSize));

    tolvane::PtzProtocolList reloaded = before;
    FUZZ_CHECK(reloaded.loadBytes(saved).ok());
    FUZZ_CHECK(reloaded.SaveBytes() == saved);
    return 0;
}
