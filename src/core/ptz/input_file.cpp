#include "core/ptz/input_file.h"

#include "core/base/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ptz_detail {

InputFile::~InputFile()
{
    if (m_file >= 0)
        ::close(m_file);
}

void InputFile::fail(const char* what, int err)
{
    m_errorText = std::string(what) + " " + m_path + ": " + std::strerror(err);
}

bool InputFile::open(const std::string& path)
{
    m_path = path;
    m_file = openRegularFile(path, O_RDONLY, &m_errorText);
    return m_file >= 0;
}

bool InputFile::size(std::uint64_t& out)
{
    struct stat st {};
    if (::fstat(m_file, &st) != 0) {
        fail("stat", errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        fail("read", S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    out = static_cast<std::uint64_t>(st.st_size);
    return true;
}

long long InputFile::read(std::uint8_t* out, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(m_file, out + total, size - total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("read", errno);
            return -1;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(total);
}

} // namespace tolvane::ptz_detail
