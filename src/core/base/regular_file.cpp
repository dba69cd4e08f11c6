#include "core/base/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tolvane {

namespace {

int refuse(int file, int err, std::string* errorText, std::string text)
{
    if (file >= 0)
        ::close(file);
    if (errorText)
        *errorText = std::move(text);
    errno = err;
    return -1;
}

} // namespace

int openRegularFile(const std::string& path, int flags, std::string* errorText)
{
    int file = -1;
    do {
        file = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    } while (file < 0 && errno == EINTR);
    if (file < 0) {
        const int err = errno;
        return refuse(-1, err, errorText, "open " + path + ": " + std::strerror(err));
    }

    struct stat info {};
    if (::fstat(file, &info) != 0) {
        const int err = errno;
        return refuse(file, err, errorText, "fstat " + path + ": " + std::strerror(err));
    }
    if (!S_ISREG(info.st_mode)) {
        const int err = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return refuse(file, err, errorText, path + " is not a regular file");
    }

    const int status = ::fcntl(file, F_GETFL);
    if (status < 0 || ::fcntl(file, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const int err = errno;
        return refuse(file, err, errorText, "fcntl " + path + ": " + std::strerror(err));
    }
    return file;
}

} // namespace tolvane
