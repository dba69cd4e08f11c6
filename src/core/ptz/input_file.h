#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane::ptz_detail {

// A file opened for reading with plain descriptor I/O, closed on every way out.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool open(const std::string& path);
    // Length of the file; fails for anything but a regular file.
    bool size(std::uint64_t& out);
    // Reads up to size bytes, stopping early only at the end of the file; returns the count read,
    // or -1 on a read error.
    long long read(std::uint8_t* out, std::size_t size);

    // errno and context of the last failure.
    const std::string& errorText() const { return m_errorText; }

private:
    void fail(const char* what, int err);

    std::string m_path;
    int m_file = -1;
    std::string m_errorText;
};

} // namespace tolvane::ptz_detail
