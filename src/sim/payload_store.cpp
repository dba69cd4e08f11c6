#include "sim/payload_store.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

IncomingPayloadFile::~IncomingPayloadFile()
{
    discard();
}

bool IncomingPayloadFile::open()
{
    m_fd = ::open(m_directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, PayloadMode);
    // EOPNOTSUPP: the file system has no unnamed files; EISDIR, EINVAL: the kernel lacks O_TMPFILE.
    if (m_fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return m_fd >= 0;
    // Hidden and not starting with a digit, so neither numbering nor a listing takes it for a
    // payload.
    std::string pattern = m_directory + "/.receiving-XXXXXX";
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_tempPath = std::move(pattern);
    ::fchmod(m_fd, PayloadMode);
    return true;
}

void IncomingPayloadFile::write(const std::uint8_t* data, std::size_t size)
{
    while (m_fd >= 0 && size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            discard(); // a partial payload would pass for a received one
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool IncomingPayloadFile::nameAs(const std::string& path)
{
    if (m_tempPath.empty()) {
        // linkat() names the unnamed file only where no file has that name.
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }
    if (::renameat2(AT_FDCWD, m_tempPath.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0)
        return false;
    m_tempPath.clear();
    return true;
}

std::string IncomingPayloadFile::commit(std::uint32_t typeCode, std::size_t number,
                                        const std::function<std::size_t()>& nextNumber)
{
    if (m_fd < 0 || ::fsync(m_fd) != 0) {
        discard();
        return {};
    }
    // Payloads of earlier runs (or of another simulator sharing the directory) stay as they were.
    constexpr int attempts = 1000;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        char name[48];
        std::snprintf(name, sizeof name, "%04zu-%08" PRIx32 ".bin", number, typeCode);
        const std::string path = m_directory + "/" + name;
        if (nameAs(path)) {
            discard();
            // Without this a crash could lose the new name; the payload is in place by now.
            const int dir = ::open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
            return path;
        }
        if (errno != EEXIST)
            break;
        number = nextNumber();
    }
    discard();
    return {};
}

void IncomingPayloadFile::discard()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

} // namespace tolvane::sim
