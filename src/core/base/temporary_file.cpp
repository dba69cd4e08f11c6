#include "core/base/temporary_file.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tolvane {

namespace {

constexpr mode_t PrivateMode = 0600;

Failure systemFailure(std::string what)
{
    return {errno, std::move(what)};
}

} // namespace

Result<TemporaryFile> TemporaryFile::create(const std::string& folder,
                                            const std::string& namePrefix, Kind kind)
{
    if (kind == Kind::Unnamed) {
        const int file = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, PrivateMode);
        if (file >= 0)
            return TemporaryFile(file, {});
        // EOPNOTSUPP: the file system has no unnamed files; EISDIR, EINVAL: the kernel does not
        // know O_TMPFILE.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return systemFailure("create a temporary file in " + folder);
    }
    std::string pattern = folder + "/" + namePrefix + "XXXXXX";
    const int file = ::mkostemp(pattern.data(), O_CLOEXEC); // mode 0600
    if (file < 0)
        return systemFailure("create " + pattern);
    return TemporaryFile(file, std::move(pattern));
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : m_file(std::exchange(other.m_file, -1)), m_path(std::exchange(other.m_path, {}))
{
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept
{
    if (this != &other) {
        discard();
        m_file = std::exchange(other.m_file, -1);
        m_path = std::exchange(other.m_path, {});
    }
    return *this;
}

TemporaryFile::~TemporaryFile()
{
    discard();
}

Result<void> TemporaryFile::write(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::write(m_file, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return systemFailure("write a temporary file");
        if (written == 0)
            return Failure{EIO, "write a temporary file"};
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return {};
}

Result<void> TemporaryFile::sync()
{
    if (::fsync(m_file) != 0)
        return systemFailure("flush a temporary file");
    return {};
}

Result<void> TemporaryFile::setMode(mode_t mode)
{
    if (::fchmod(m_file, mode) != 0)
        return systemFailure("set the permissions of a temporary file");
    return {};
}

Result<void> TemporaryFile::linkUnnamed(const std::string& path)
{
    // linkat() gives a name only where none is taken.
    const std::string self = "/proc/self/fd/" + std::to_string(m_file);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return systemFailure("link a temporary file as " + path);
    return {};
}

Result<void> TemporaryFile::giveName(const std::string& prefix)
{
    if (!m_path.empty())
        return {};
    // A clash (another save, or anything planted there) just means trying the next name.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%x-%x", static_cast<unsigned>(::getpid()),
                      counter.fetch_add(1));
        std::string name = prefix + suffix;
        const auto linked = linkUnnamed(name);
        if (linked) {
            m_path = std::move(name);
            return {};
        }
        if (linked.failure().error != EEXIST)
            return linked;
    }
    return Failure{EEXIST, "name a temporary file " + prefix};
}

Result<void> TemporaryFile::close()
{
    if (m_file >= 0 && ::close(std::exchange(m_file, -1)) != 0)
        return systemFailure("close a temporary file");
    return {};
}

Result<void> TemporaryFile::placeAs(const std::string& path)
{
    if (m_path.empty()) {
        if (auto linked = linkUnnamed(path); !linked)
            return linked;
    } else if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) !=
               0) {
        return systemFailure("rename " + m_path + " to " + path);
    }
    m_path.clear(); // placed: no longer this object's to remove
    return {};
}

Result<void> TemporaryFile::placeOver(const std::string& path)
{
    if (::rename(m_path.c_str(), path.c_str()) != 0)
        return systemFailure("rename " + m_path + " to " + path);
    m_path.clear();
    return {};
}

void TemporaryFile::dropName()
{
    if (!m_path.empty())
        ::unlink(std::exchange(m_path, {}).c_str());
}

int TemporaryFile::release()
{
    return std::exchange(m_file, -1);
}

void TemporaryFile::discard()
{
    // An unnamed file goes with its descriptor.
    if (m_file >= 0)
        ::close(std::exchange(m_file, -1));
    dropName();
}

// umask() can only be read by setting it, which races with other threads; Linux shows it in
// /proc/self/status. Elsewhere assume the common 022.
mode_t permissionsForNewFile(mode_t requested)
{
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value & 0777);
                break;
            }
        }
        std::fclose(status);
    }
    return requested & ~mask;
}

void syncFolder(const std::string& folder)
{
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace tolvane
