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

// Where a .pdb file's bytes come from: the file, or bytes already in memory. Both are read front
// to back.
class PdbSource {
public:
    virtual ~PdbSource() = default;
    virtual std::uint64_t size() const = 0;
    // Up to count bytes, fewer only at the end; -1 on a read error, said by errorText().
    virtual long long read(std::uint8_t* out, std::size_t count) = 0;
    virtual std::string errorText() const = 0;
};

class FileSource final : public PdbSource {
public:
    explicit FileSource(RegularFile& file) : m_file(file) {}
    std::uint64_t size() const override { return m_file.size(); }
    long long read(std::uint8_t* out, std::size_t count) override
    {
        return m_file.read(out, count);
    }
    std::string errorText() const override { return m_file.errorText(); }

private:
    RegularFile& m_file;
};

class BytesSource final : public PdbSource {
public:
    explicit BytesSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    long long read(std::uint8_t* out, std::size_t count) override
    {
        const std::size_t n = std::min(count, m_bytes.size() - m_position);
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_position), n, out);
        m_position += n;
        return static_cast<long long>(n);
    }
    std::string errorText() const override { return {}; }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
};

// The records of the .pdb file in source; a failure is said in error, naming the file `name`.
// isDatabase tells whether the source starts with a database header; nothing is returned when it
// does not, or when reading failed after it.
std::optional<std::vector<PtzProtocol>> readDatabase(PdbSource& source, const std::string& name,
                                                     bool& isDatabase, std::string& error)
{
    isDatabase = false;
    std::array<std::uint8_t, PdbHeaderSize> bytes{};
    const long long got = source.read(bytes.data(), bytes.size());
    if (got != static_cast<long long>(PdbHeaderSize)) {
        error = got < 0 ? source.errorText() : name + ": shorter than a database header";
        return std::nullopt;
    }
    const auto header = readPdbHeader(bytes.data(), bytes.size());
    if (!header) {
        error = name + ": not a protocol database";
        return std::nullopt;
    }
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
    if (static_cast<std::uint64_t>(count) > available) {
        error = name + ": announces " + std::to_string(count) + " records but holds " +
                std::to_string(available);
        return std::nullopt;
    }

    try {
        records.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        error = name + ": not enough memory for " + std::to_string(count) + " records";
        return std::nullopt;
    }
    PtzProtocol::Bytes buffer{};
    for (std::int32_t i = 0; i < count; ++i) {
        const long long n = source.read(buffer.data(), buffer.size());
        if (n != static_cast<long long>(buffer.size())) {
            error = n < 0 ? source.errorText()
                          : name + ": record " + std::to_string(i) + " is cut short";
            return std::nullopt;
        }
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

int PtzProtocolList::LoadFile(const std::string& path)
{
    m_lastError.clear();
    RegularFile file;
    if (!file.open(path, &m_lastError))
        return 0;
    FileSource source(file);
    bool isDatabase = false;
    auto records = readDatabase(source, path, isDatabase, m_lastError);
    return replaceRecords(isDatabase, records);
}

int PtzProtocolList::LoadBytes(std::span<const std::uint8_t> bytes, const std::string& name)
{
    m_lastError.clear();
    BytesSource source(bytes);
    bool isDatabase = false;
    auto records = readDatabase(source, name, isDatabase, m_lastError);
    return replaceRecords(isDatabase, records);
}

int PtzProtocolList::replaceRecords(bool isDatabase,
                                    std::optional<std::vector<PtzProtocol>>& records)
{
    if (!isDatabase)
        return 0;
    if (!records) {
        RemoveAll();
        return 0;
    }
    m_records.swap(*records);
    return 1;
}

int PtzProtocolList::SaveFile(const std::string& path) const
{
    m_lastError.clear();
    AtomicFile file(path);
    if (!file.open()) {
        m_lastError = file.errorText();
        return 0;
    }
    bool ok = encodeDatabase(m_records, [&file](const std::uint8_t* bytes, std::size_t size) {
        return file.write(bytes, size);
    });
    if (ok)
        ok = file.commit();
    if (!ok) {
        m_lastError = file.errorText();
        return 0;
    }
    return 1;
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
