#include "sim/payload_store.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace tolvane::sim {

namespace {

// The number a saved payload's name starts with ("0012-55ab0003.bin" gives 12), or 0.
std::size_t savedSequenceNumber(const char* name)
{
    std::size_t number = 0;
    std::size_t digits = 0;
    for (; name[digits] >= '0' && name[digits] <= '9'; ++digits) {
        if (digits == 9)
            return 0;
        number = number * 10 + static_cast<std::size_t>(name[digits] - '0');
    }
    if (digits == 0 || name[digits] != '-')
        return 0;
    return number;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::size_t highestSavedSequenceNumber(const std::string& directory)
{
    std::size_t highest = 0;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            highest = std::max(highest, savedSequenceNumber(entry->d_name));
        ::closedir(dir);
    }
    return highest;
}

std::string savePayload(const std::string& directory, std::uint32_t typeCode,
                        const std::vector<std::uint8_t>& payload, std::size_t number,
                        const std::function<std::size_t()>& nextNumber)
{
    // Never replace a file: payloads of earlier runs (or of another simulator sharing the
    // directory) stay as they were.
    constexpr int attempts = 1000;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        char name[48];
        std::snprintf(name, sizeof name, "%04zu-%08" PRIx32 ".bin", number, typeCode);
        const std::string path = directory + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno != EEXIST)
                return {};
            number = nextNumber();
            continue;
        }
        const bool written = writeAll(fd, payload.data(), payload.size());
        if (::close(fd) == 0 && written)
            return path;
        ::unlink(path.c_str()); // a partial payload would pass for a received one
        return {};
    }
    return {};
}

} // namespace tolvane::sim
