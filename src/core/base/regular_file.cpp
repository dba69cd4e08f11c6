#include "core/base/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tolvane {

namespace {

int refuse(int file, Failure* failure, Failure reason)
{
    if (file >= 0)
        ::close(file);
    const int err = reason.error != 0 ? reason.error : EINVAL;
    if (failure)
        *failure = std::move(reason);
    errno = err;
    return -1;
}

} // namespace

int openRegularFile(const std::string& path, int flags, Failure* failure, unsigned mode)
{
    int file = -1;
    do {
        file = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (file < 0 && errno == EINTR);
    if (file < 0)
        return refuse(-1, failure, {errno, "open " + path});

    struct stat info {};
    if (::fstat(file, &info) != 0)
        return refuse(file, failure, {errno, "fstat " + path});
    if (!S_ISREG(info.st_mode)) {
        const int err = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        if (failure)
            *failure = {0, path + " is not a regular file"};
        return refuse(file, nullptr, {err, {}});
    }

    const int status = ::fcntl(file, F_GETFL);
    if (status < 0 || ::fcntl(file, F_SETFL, status & ~O_NONBLOCK) != 0)
        return refuse(file, failure, {errno, "fcntl " + path});
    return file;
}

int openRegularFile(const std::string& path, int flags, std::string* errorText, unsigned mode)
{
    Failure failure;
    const int file = openRegularFile(path, flags, &failure, mode);
    if (file < 0 && errorText) {
        const int err = errno;
        *errorText = failure.text();
        errno = err;
    }
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

bool RegularFile::open(const std::string& path)
{
    close();
    m_path = path;
    m_failure = {};
    m_file = openRegularFile(path, O_RDONLY, &m_failure);
    if (m_file < 0)
        return false;
    struct stat info {};
    if (::fstat(m_file, &info) != 0) {
        const int err = errno;
        m_failure = {err, "fstat " + path};
        close();
        errno = err;
        return false;
    }
    m_size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

long long RegularFile::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count)
{
    std::size_t total = 0;
    while (total < count) {
        const ssize_t got =
            ::pread(m_file, out + total, count - total, static_cast<off_t>(offset + total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int err = errno;
            m_failure = {err, "read " + m_path};
            errno = err;
            return -1;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(total);
}

long long RegularFile::read(std::uint8_t* out, std::size_t count)
{
    const long long got = readAt(m_position, out, count);
    if (got > 0)
        m_position += static_cast<std::uint64_t>(got);
    return got;
}

} // namespace tolvane
