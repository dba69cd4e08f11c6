#pragma once

#include "core/base/failure.h"
#include "core/ptz/ptz_protocol.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tolvane {

// A .pdb file starts with "PD", a format version, the record size and the record count, all
// little-endian.
inline constexpr std::size_t PdbHeaderSize = 12;
struct PdbHeader {
    std::uint16_t version = 0;
    std::uint32_t recordSize = 0;
    std::int32_t count = 0;
};
// The header of a .pdb file's first bytes, or nothing when they do not start with "PD".
std::optional<PdbHeader> readPdbHeader(const std::uint8_t* bytes, std::size_t size);

// The protocol database, in insertion order, and its .pdb file. Operations on the list return
// nonzero on success.
class PtzProtocolList {
public:
    PtzProtocolList() = default;
    virtual ~PtzProtocolList() = default;

    int RemoveAll();
    int Grow(int count); // appends zeroed records, filled by SetAt
    int RemoveAt(int start, int count);
    std::int32_t GetNextNumber() const;       // largest number + 1; 0 when none is >= 0
    int FindIndex(std::int32_t number) const; // first record with the number, or -1
    int Contains(std::int32_t number) const;
    int GetAt(int index, PtzProtocol& out) const;
    int SetAt(int index, const PtzProtocol& record);
    int GetCount() const { return static_cast<int>(m_records.size()); }

    // Replaces the content by a .pdb file's records. A file that cannot be opened or has no "PD"
    // header leaves the list as it was; any later failure leaves it empty. A failure names the
    // file and, where the system gave one, its reason.
    Result<void> load(const std::string& path);
    // The same from the bytes of a .pdb file, named `name` in a failure.
    Result<void> loadBytes(std::span<const std::uint8_t> bytes,
                           const std::string& name = "protocol database");
    // Writes the whole list; replaces the file atomically, so a failed save leaves it as it was.
    Result<void> save(const std::string& path) const;
    // The bytes save() writes.
    std::vector<std::uint8_t> SaveBytes() const;

    // load and save, answering nonzero on success.
    int LoadFile(const std::string& path) { return load(path) ? 1 : 0; }
    int SaveFile(const std::string& path) const { return save(path) ? 1 : 0; }

private:
    // Takes the records a load read: a failure after the header empties the list; a source that
    // is no database changes nothing.
    Result<void> replaceRecords(Result<std::vector<PtzProtocol>> records, bool isDatabase);

    std::vector<PtzProtocol> m_records;
};

} // namespace tolvane
