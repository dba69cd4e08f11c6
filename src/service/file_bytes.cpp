#include "service/file_bytes.h"

#include <array>

namespace tolvane::service {

bool openOperatorFile(RegularFile& file, const std::string& path, std::string* error,
                      std::string_view what)
{
    const auto opened = file.open(path);
    if (opened)
        return true;
    // A file that opened but is not regular fails with no system error of its own.
    const Failure& failure = opened.failure();
    if (error) {
        if (failure.error == 0)
            *error = std::string(what) + failure.text();
        else
            *error =
                "cannot open " + std::string(what) + path + ": " + systemErrorText(failure.error);
    }
    return false;
}

std::string readFailureText(const std::string& path, const Failure& failure, std::string_view what)
{
    return "cannot read " + std::string(what) + path + ": " + systemErrorText(failure.error);
}

std::optional<std::vector<std::uint8_t>> readFileBytes(RegularFile& file, std::uint64_t offset,
                                                       std::size_t length, std::string* error)
{
    std::vector<std::uint8_t> bytes(length);
    const auto got = file.readAt(offset, bytes.data(), length);
    if (!got) {
        if (error)
            *error = readFailureText(file.path(), got.failure());
        return std::nullopt;
    }
    bytes.resize(*got);
    return bytes;
}

bool forEachBlock(RegularFile& file,
                  const std::function<bool(const std::uint8_t*, std::size_t)>& take,
                  std::string* error, std::string_view what)
{
    std::array<std::uint8_t, 64 * 1024> buffer;
    for (;;) {
        const auto got = file.read(buffer.data(), buffer.size());
        if (!got) {
            if (error)
                *error = readFailureText(file.path(), got.failure(), what);
            return false;
        }
        if (*got == 0)
            return true;
        if (!take(buffer.data(), *got))
            return false;
    }
}

} // namespace tolvane::service
