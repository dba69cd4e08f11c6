#pragma once

#include "core/base/byte_source.h"
#include "core/base/failure.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane {

// Opens a file the operator chose, refusing anything but a regular file. A FIFO or a device could
// block open() or the first read forever, so the file is opened non-blocking, checked with fstat
// and only then switched back to blocking I/O. flags are those of open(2); O_CLOEXEC is added;
// mode is used when flags hold O_CREAT. Answers the descriptor, or a failure naming the path; a
// file that is not regular fails with "PATH is not a regular file" and errno set to EISDIR for a
// folder, EINVAL for anything else.
Result<int> openRegularFile(const std::string& path, int flags, unsigned mode = 0644);

// A regular file open for reading: the one way the core and its front ends read a file the
// operator named. Closed on every way out.
class RegularFile final : public ByteSource {
public:
    RegularFile() = default;
    ~RegularFile() override;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Opens path read-only, refusing anything but a regular file as openRegularFile does.
    Result<void> open(const std::string& path);
    void close();
    bool isOpen() const { return m_file >= 0; }

    // The length when the file was opened.
    std::uint64_t size() const override { return m_size; }
    // Up to count bytes from offset, fewer only at the end of the file.
    Result<std::size_t> readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count) override;
    // Up to count bytes from where the last read() ended.
    Result<std::size_t> read(std::uint8_t* out, std::size_t count);

    int descriptor() const { return m_file; }
    const std::string& path() const { return m_path; }

private:
    int m_file = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_position = 0;
    std::string m_path;
};

} // namespace tolvane
