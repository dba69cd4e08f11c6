#include "core/base/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tolvane {

namespace {

// Closes file and answers the failure, leaving errno as the failure's cause.
Failure refuse(int file, Failure failure, int err)
{
    if (file >= 0)
        ::close(file);
    errno = err;
    return failure;
}

} // namespace

Result<int> openRegularFile(const std::string& path, int flags, unsigned mode)
{
    int file = -1;
    do {
        file = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (file < 0 && errno == EINTR);
    if (file < 0)
        return Failure{errno, "open " + path};

    struct stat info {};
    if (::fstat(file, &info) != 0)
        return refuse(file, {errno, "fstat " + path}, errno);
    if (!S_ISREG(info.st_mode))
        return refuse(file, {0, path + " is not a regular file"},
                      S_ISDIR(info.st_mode) ? EISDIR : EINVAL);

    const int status = ::fcntl(file, F_GETFL);
    if (status < 0 || ::fcntl(file, F_SETFL, status & ~O_NONBLOCK) != 0)
        return refuse(file, {errno, "fcntl " + path}, errno);
    return file;
}

RegularFile::~RegularFile()
{
    close();
}

void RegularFile::close()
{
    if (m_file >= 0)
        ::close(m_file);
    m_file = -1;
    m_size = 0;
    m_position = 0;
}

Result<void> RegularFile::open(const std::string& path)
{
    close();
    m_path = path;
    auto opened = openRegularFile(path, O_RDONLY);
    if (!opened)
        return opened.failure();
    m_file = *opened;
    struct stat info {};
    if (::fstat(m_file, &info) != 0) {
        const int err = errno;
        close();
        errno = err;
        return Failure{err, "fstat " + path};
    }
    m_size = static_cast<std::uint64_t>(info.st_size);
    return {};
}

Result<std::size_t> RegularFile::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count)
{
    std::size_t total = 0;
    while (total < count) {
        const ssize_t got =
            ::pread(m_file, out + total, count - total, static_cast<off_t>(offset + total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Failure{errno, "read " + m_path};
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

Result<std::size_t> RegularFile::read(std::uint8_t* out, std::size_t count)
{
    auto got = readAt(m_position, out, count);
    if (got)
        m_position += *got;
    return got;
}

} // namespace tolvane
