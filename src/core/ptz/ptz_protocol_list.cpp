#include "core/ptz/ptz_protocol_list.h"

#include "core/base/atomic_file.h"
#include "core/base/byte_order.h"
#include "core/base/regular_file.h"

#include <algorithm>
#include <array>
#include <climits>
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
    std::array<std::uint8_t, PdbHeaderSize> bytes{};
    const long long got = file.read(bytes.data(), bytes.size());
    if (got != static_cast<long long>(PdbHeaderSize)) {
        m_lastError = got < 0 ? file.errorText() : path + ": shorter than a database header";
        return 0;
    }
    const auto header = readPdbHeader(bytes.data(), bytes.size());
    if (!header) {
        m_lastError = path + ": not a protocol database";
        return 0;
    }
    // Version and record size are not looked at: records are always 1796 bytes.
    const std::int32_t count = header->count;

    RemoveAll();
    if (count <= 0)
        return 1;

    // The count comes from the file: believe it only as far as the file has bytes for it, so a
    // damaged header cannot make us allocate gigabytes.
    const std::uint64_t length = file.size();
    const std::uint64_t available =
        length < PdbHeaderSize ? 0 : (length - PdbHeaderSize) / PtzProtocol::Size;
    if (static_cast<std::uint64_t>(count) > available) {
        m_lastError = path + ": announces " + std::to_string(count) + " records but holds " +
                      std::to_string(available);
        return 0;
    }

    std::vector<PtzProtocol> records;
    try {
        records.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        m_lastError = path + ": not enough memory for " + std::to_string(count) + " records";
        return 0;
    }
    PtzProtocol::Bytes buffer{};
    for (std::int32_t i = 0; i < count; ++i) {
        const long long n = file.read(buffer.data(), buffer.size());
        if (n != static_cast<long long>(buffer.size())) {
            m_lastError =
                n < 0 ? file.errorText() : path + ": record " + std::to_string(i) + " is cut short";
            return 0;
        }
        records.push_back(PtzProtocol::fromBytes(buffer.data()));
    }
    m_records.swap(records);
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
    const auto header = encodeHeader(GetCount());
    bool ok = file.write(header.data(), header.size());

    // A few records per write keeps the calls few without a copy of the whole list.
    constexpr std::size_t Batch = 32;
    std::vector<std::uint8_t> buffer(Batch * PtzProtocol::Size);
    for (std::size_t i = 0; ok && i < m_records.size(); i += Batch) {
        const std::size_t n = std::min(Batch, m_records.size() - i);
        for (std::size_t k = 0; k < n; ++k)
            m_records[i + k].toBytes(buffer.data() + k * PtzProtocol::Size);
        ok = file.write(buffer.data(), n * PtzProtocol::Size);
    }
    if (ok)
        ok = file.commit();
    if (!ok) {
        m_lastError = file.errorText();
        return 0;
    }
    return 1;
}

} // namespace tolvane
