#include "core/ptz/ptz_protocol_list.h"

#include "core/base/atomic_file.h"
#include "core/base/byte_order.h"
#include "core/base/regular_file.h"

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <new>
#include <stdexcept>

namespace tolvane {

namespace {

constexpr std::uint16_t FormatVersion = 1;

std::array<std::uint8_t, PdbHeaderSize> encodeHeader(std::int32_t count)
{
    std::array<std::uint8_t, PdbHeaderSize> header{0x50, 0x44};
    storeLe16(header.data() + 2, FormatVersion);
    storeLe32(header.data() + 4, static_cast<std::uint32_t>(PtzProtocol::Size));
    storeLe32(header.data() + 8, static_cast<std::uint32_t>(count));
    return header;
}

// Reads a source front to back, telling a read error from an early end.
class SourceReader {
public:
    explicit SourceReader(ByteSource& source) : m_source(source) {}
    // Exactly count bytes: true, false at an early end, or the read failure.
    Result<bool> next(std::uint8_t* out, std::size_t count)
    {
        const auto got = m_source.readAt(m_position, out, count);
        if (!got)
            return got.failure();
        m_position += *got;
        return *got == count;
    }

private:
    ByteSource& m_source;
    std::uint64_t m_position = 0;
};

// The records of the .pdb file in source, named `name` in a failure. isDatabase tells whether the
// source starts with a database header.
Result<std::vector<PtzProtocol>> readDatabase(ByteSource& source, const std::string& name,
                                              bool& isDatabase)
{
    isDatabase = false;
    SourceReader reader(source);
    std::array<std::uint8_t, PdbHeaderSize> bytes{};
    const auto whole = reader.next(bytes.data(), bytes.size());
    if (!whole)
        return whole.failure();
    if (!*whole)
        return Failure{0, name + ": shorter than a database header"};
    const auto header = readPdbHeader(bytes.data(), bytes.size());
    if (!header)
        return Failure{0, name + ": not a protocol database"};
    isDatabase = true;
    // Version and record size are not looked at: records are always 1796 bytes.
    const std::int32_t count = header->count;
    std::vector<PtzProtocol> records;
    if (count <= 0)
        return records;

    // The count comes from the file: believe it only as far as the file has bytes for it, so a
    // damaged header cannot make us allocate gigabytes.
    const std::uint64_t length = source.size();
    const std::uint64_t available =
        length < PdbHeaderSize ? 0 : (length - PdbHeaderSize) / PtzProtocol::Size;
    if (static_cast<std::uint64_t>(count) > available)
        return Failure{0, name + ": announces " + std::to_string(count) + " records but holds " +
                              std::to_string(available)};

    try {
        records.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return Failure{0, name + ": not enough memory for " + std::to_string(count) + " records"};
    }
    PtzProtocol::Bytes buffer{};
    for (std::int32_t i = 0; i < count; ++i) {
        const auto record = reader.next(buffer.data(), buffer.size());
        if (!record)
            return record.failure();
        if (!*record)
            return Failure{0, name + ": record " + std::to_string(i) + " is cut short"};
        records.push_back(PtzProtocol::fromBytes(buffer.data()));
    }
    return records;
}

// Hands the bytes of the .pdb file of records to write, a few records at a time, which keeps the
// calls few without a copy of the whole list; false as soon as write answers false.
bool encodeDatabase(const std::vector<PtzProtocol>& records,
                    const std::function<bool(const std::uint8_t*, std::size_t)>& write)
{
    const auto header = encodeHeader(static_cast<std::int32_t>(records.size()));
    if (!write(header.data(), header.size()))
        return false;
    constexpr std::size_t Batch = 32;
    std::vector<std::uint8_t> buffer(Batch * PtzProtocol::Size);
    for (std::size_t i = 0; i < records.size(); i += Batch) {
        const std::size_t n = std::min(Batch, records.size() - i);
        for (std::size_t k = 0; k < n; ++k)
            records[i + k].toBytes(buffer.data() + k * PtzProtocol::Size);
        if (!write(buffer.data(), n * PtzProtocol::Size))
            return false;
    }
    return true;
}

} // namespace

std::optional<PdbHeader> readPdbHeader(const std::uint8_t* bytes, std::size_t size)
{
    if (size < PdbHeaderSize || bytes[0] != 0x50 || bytes[1] != 0x44)
        return std::nullopt;
    return PdbHeader{loadLe16(bytes + 2), loadLe32(bytes + 4),
                     static_cast<std::int32_t>(loadLe32(bytes + 8))};
}

int PtzProtocolList::RemoveAll()
{
    std::vector<PtzProtocol>().swap(m_records);
    return 1;
}

int PtzProtocolList::Grow(int count)
{
    if (count <= 0)
        return 1;
    // The count is an int; a list that could not report its own size is refused.
    if (static_cast<std::size_t>(count) > static_cast<std::size_t>(INT_MAX) - m_records.size())
        return 0;
    try {
        m_records.resize(m_records.size() + static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return 0; // resize leaves the list as it was
    } catch (const std::length_error&) {
        return 0;
    }
    return 1;
}

int PtzProtocolList::RemoveAt(int start, int count)
{
    const int size = GetCount();
    if (count < 1 || start < 0 || size == 0 || count > size || start > size - count)
        return 1;
    if (count == size)
        return RemoveAll();
    const auto first = m_records.begin() + start;
    m_records.erase(first, first + count);
    return 1;
}

std::int32_t PtzProtocolList::GetNextNumber() const
{
    std::int32_t largest = -1;
    for (const PtzProtocol& record : m_records)
        largest = std::max(largest, record.number);
    // Wraps like the 32-bit sum it is when the largest number is already INT32_MAX.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(largest) + 1u);
}

int PtzProtocolList::FindIndex(std::int32_t number) const
{
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].number == number)
            return static_cast<int>(i);
    }
    return -1;
}

int PtzProtocolList::Contains(std::int32_t number) const
{
    return FindIndex(number) >= 0 ? 1 : 0;
}

int PtzProtocolList::GetAt(int index, PtzProtocol& out) const
{
    if (index < 0 || index >= GetCount())
        return 0;
    out = m_records[static_cast<std::size_t>(index)];
    return 1;
}

int PtzProtocolList::SetAt(int index, const PtzProtocol& record)
{
    if (index < 0 || index >= GetCount())
        return 0;
    m_records[static_cast<std::size_t>(index)] = record;
    return 1;
}

Result<void> PtzProtocolList::load(const std::string& path)
{
    RegularFile file;
    if (auto opened = file.open(path); !opened)
        return opened;
    bool isDatabase = false;
    auto records = readDatabase(file, path, isDatabase);
    return replaceRecords(std::move(records), isDatabase);
}

Result<void> PtzProtocolList::loadBytes(std::span<const std::uint8_t> bytes,
                                        const std::string& name)
{
    MemoryBytes source(bytes);
    bool isDatabase = false;
    auto records = readDatabase(source, name, isDatabase);
    return replaceRecords(std::move(records), isDatabase);
}

Result<void> PtzProtocolList::replaceRecords(Result<std::vector<PtzProtocol>> records,
                                             bool isDatabase)
{
    if (!records) {
        if (isDatabase)
            RemoveAll();
        return records.failure();
    }
    m_records.swap(*records);
    return {};
}

Result<void> PtzProtocolList::save(const std::string& path) const
{
    AtomicFile file(path);
    if (auto opened = file.open(); !opened)
        return opened;
    Result<void> written;
    encodeDatabase(m_records, [&file, &written](const std::uint8_t* bytes, std::size_t size) {
        written = file.write(bytes, size);
        return written.ok();
    });
    if (!written)
        return written;
    return file.commit();
}

std::vector<std::uint8_t> PtzProtocolList::SaveBytes() const
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(PdbHeaderSize + m_records.size() * PtzProtocol::Size);
    encodeDatabase(m_records, [&bytes](const std::uint8_t* part, std::size_t size) {
        bytes.insert(bytes.end(), part, part + size);
        return true;
    });
    return bytes;
}

} // namespace tolvane
