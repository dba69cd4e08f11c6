#include "sim/payload_store.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <dirent.h>
#include <utility>

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

constexpr mode_t PayloadMode = 0644;

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

IncomingPayloadFile::IncomingPayloadFile(std::string directory) : m_directory(std::move(directory))
{
}

Result<void> IncomingPayloadFile::open()
{
    auto created = TemporaryFile::create(m_directory, ".receiving-");
    if (!created)
        return created.failure();
    m_file.emplace(std::move(created).value());
    return m_file->setMode(permissionsForNewFile(PayloadMode));
}

void IncomingPayloadFile::write(const std::uint8_t* data, std::size_t size)
{
    if (m_file && !m_file->write(data, size))
        m_file.reset(); // a partial payload would pass for a received one
}

Result<std::string> IncomingPayloadFile::commit(std::uint32_t typeCode, std::size_t number,
                                                const std::function<std::size_t()>& nextNumber)
{
    std::optional<TemporaryFile> file = std::exchange(m_file, std::nullopt);
    if (!file)
        return Failure{EBADF, "no payload file in " + m_directory};
    if (auto synced = file->sync(); !synced)
        return synced.failure();
    // Payloads of earlier runs (or of another simulator sharing the directory) stay as they were.
    constexpr int attempts = 1000;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        char name[48];
        std::snprintf(name, sizeof name, "%04zu-%08" PRIx32 ".bin", number, typeCode);
        const std::string path = m_directory + "/" + name;
        const auto placed = file->placeAs(path);
        if (placed) {
            // Without this a crash could lose the new name; the payload is in place by now.
            syncFolder(m_directory);
            return path;
        }
        if (placed.failure().error != EEXIST)
            return placed.failure();
        number = nextNumber();
    }
    return Failure{EEXIST, "name a payload in " + m_directory};
}

} // namespace tolvane::sim
