#include "cli/file_bytes.h"

#include <array>

#include <cerrno>
#include <cstring>

namespace tolvane::cli {

bool openOperatorFile(RegularFile& file, const std::string& path, std::string* error,
                      std::string_view what)
{
    if (file.open(path))
        return true;
    // openRegularFile gives EISDIR or EINVAL for a file that opened but is not regular.
    const int reason = errno;
    if (error) {
        if (reason == EISDIR || reason == EINVAL)
            *error = std::string(what) + file.errorText();
        else
            *error = "cannot open " + std::string(what) + path + ": " + std::strerror(reason);
    }
    return false;
}

std::string readFailureText(const std::string& path, std::string_view what)
{
    return "cannot read " + std::string(what) + path + ": " + std::strerror(errno);
}

std::optional<std::vector<std::uint8_t>> readFileBytes(RegularFile& file, std::uint64_t offset,
                                                       std::size_t length, std::string* error)
{
    std::vector<std::uint8_t> bytes(length);
    const long long got = file.readAt(offset, bytes.data(), length);
    if (got < 0) {
        if (error)
            *error = readFailureText(file.path());
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

bool forEachBlock(RegularFile& file,
                  const std::function<bool(const std::uint8_t*, std::size_t)>& take,
                  std::string* error, std::string_view what)
{
    std::array<std::uint8_t, 64 * 1024> buffer;
    for (;;) {
        const long long got = file.read(buffer.data(), buffer.size());
        if (got < 0) {
            if (error)
                *error = readFailureText(file.path(), what);
            return false;
        }
        if (got == 0)
            return true;
        if (!take(buffer.data(), static_cast<std::size_t>(got)))
            return false;
    }
}

} // namespace tolvane::cli
