#pragma once

#include "core/base/failure.h"

#include <cstdint>
#include <string>

namespace tolvane {

// An open file with at most one read-only or writable memory-mapped view of it. Writes through a
// writable view reach the file. Closing or destroying the object releases the view and the file.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Opens path and maps [offset, offset + length); a length of 0 means up to the end of the file.
    // Answers the byte at offset, or why not, with the path and the system's reason. A file that
    // opened stays open after a failed map. mappingName exists for platforms that name mappings.
    Result<std::uint8_t*> open(const std::string& path, std::uint32_t offset = 0,
                               std::uint32_t length = 0, bool readOnly = true,
                               const char* mappingName = nullptr);
    // Maps a range of an already open descriptor, which the object then owns.
    Result<std::uint8_t*> map(int file, std::uint32_t offset, std::uint32_t length, bool readOnly,
                              const char* mappingName = nullptr);
    void unmap();
    void close();

    // Size of the open file in bytes (not the view's length); 0 when no file is open.
    std::uint64_t length() const;

    std::uint8_t* view() const { return m_view; }
    std::uint32_t viewLength() const { return m_viewLength; }
    int descriptor() const { return m_file; }

private:
    // The length of the view [offset, offset + length) of the open file, length 0 meaning up to
    // its end, when the range lies inside a non-empty regular file.
    Result<std::uint64_t> checkedRange(const std::string& name, std::uint32_t offset,
                                       std::uint32_t length);

    std::uint8_t* m_view = nullptr;
    std::uint32_t m_viewLength = 0;
    void* m_mappingStart = nullptr; // start of the page-aligned mapping behind the view
    std::size_t m_mappingLength = 0;
    int m_file = -1;
    std::string m_path; // for failures; empty for a descriptor mapped directly
};

} // namespace tolvane
