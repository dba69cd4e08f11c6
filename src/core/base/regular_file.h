#pragma once

#include "core/base/failure.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane {

// Opens a file the operator chose, refusing anything but a regular file. A FIFO or a device could
// block open() or the first read forever, so the file is opened non-blocking, checked with fstat
// and only then switched back to blocking I/O. flags are those of open(2); O_CLOEXEC is added.
// Returns the descriptor, or -1 with errno set (EISDIR for a folder, EINVAL for any other file
// that is not regular) and *errorText, when given, saying what failed with the path.
// mode is used when flags hold O_CREAT.
int openRegularFile(const std::string& path, int flags, Failure* failure, unsigned mode = 0644);
int openRegularFile(const std::string& path, int flags, std::string* errorText = nullptr,
                    unsigned mode = 0644);

// A regular file open for reading: the one way the core and its front ends read a file the
// operator named. Closed on every way out.
class RegularFile {
public:
    RegularFile() = default;
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Opens path read-only; false, with errno and errorText(), for anything but a regular file.
    bool open(const std::string& path);
    // The same, with the reason of a failure written to *errorText.
    bool open(const std::string& path, std::string* errorText)
    {
        const bool opened = open(path);
        if (!opened && errorText)
            *errorText = this->errorText();
        return opened;
    }
    void close();
    bool isOpen() const { return m_file >= 0; }

    // The length when the file was opened.
    std::uint64_t size() const { return m_size; }
    // Up to count bytes from offset, fewer only at the end of the file; -1 on a read error.
    long long readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count);
    // Up to count bytes from where the last read() ended.
    long long read(std::uint8_t* out, std::size_t count);

    int descriptor() const { return m_file; }
    const std::string& path() const { return m_path; }
    // What the last failure was, with the path and the system's reason.
    const Failure& failure() const { return m_failure; }
    std::string errorText() const { return m_failure.text(); }

private:
    int m_file = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_position = 0;
    std::string m_path;
    Failure m_failure;
};

} // namespace tolvane
