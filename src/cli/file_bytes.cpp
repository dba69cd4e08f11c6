#include "cli/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::cli {

std::optional<std::uint64_t> fileSize(const std::string& path, std::string* error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        if (error)
            *error = path + " is not a regular file";
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::vector<std::uint8_t>>
readFileBytes(const std::string& path, std::uint64_t offset, std::size_t length, std::string* error)
{
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(length);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n =
            ::pread(file, bytes.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (error)
                *error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(file);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(file);
    bytes.resize(got);
    return bytes;
}

std::uint32_t littleEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

std::uint32_t bigEndian32(const std::uint8_t* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
        if (i > 0)
            text += ' ';
        text += byte;
    }
    return text;
}

} // namespace tolvane::cli
