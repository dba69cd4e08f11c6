#include "core/image/mapped_file.h"

#include "core/base/regular_file.h"

#include <cerrno>
#include <cstdint>
#include <limits>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace {

std::uint64_t allocationGranularity()
{
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pageSize > 0 ? static_cast<std::uint64_t>(pageSize) : 4096u;
}

} // namespace

MappedFile::~MappedFile()
{
    close();
}

Result<std::uint8_t*> MappedFile::open(const std::string& path, std::uint32_t offset,
                                       std::uint32_t length, bool readOnly, const char* mappingName)
{
    // A file left open by a failed map is closed as well, so no descriptor is ever lost.
    close();

    const auto file = openRegularFile(path, readOnly ? O_RDONLY : O_RDWR);
    if (!file)
        return file.failure();
    m_file = *file;
    m_path = path;
    return map(*file, offset, length, readOnly, mappingName);
}

Result<std::uint8_t*> MappedFile::map(int file, std::uint32_t offset, std::uint32_t length,
                                      bool readOnly,
                                      const char* /*mappingName: POSIX mappings have no names*/)
{
    unmap();
    if (file != m_file) {
        if (m_file >= 0)
            ::close(m_file);
        m_file = file;
        m_path.clear();
    }
    const std::string name = m_path.empty() ? "descriptor " + std::to_string(file) : m_path;
    if (m_file < 0)
        return Failure{EBADF, "no file to map"};

    const auto checked = checkedRange(name, offset, length);
    if (!checked)
        return checked.failure();
    const std::uint64_t wanted = *checked;

    const std::uint64_t granularity = allocationGranularity();
    const std::uint64_t alignedStart = offset / granularity * granularity;
    const std::uint64_t delta = offset - alignedStart;
    const std::uint64_t mappedLength = delta + wanted;
    if (mappedLength > std::numeric_limits<std::size_t>::max())
        return Failure{EFBIG, name + ": too large to map"};

    const int protection = readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
    void* start = ::mmap(nullptr, static_cast<std::size_t>(mappedLength), protection, MAP_SHARED,
                         m_file, static_cast<off_t>(alignedStart));
    if (start == MAP_FAILED)
        return Failure{errno, "mmap " + name};

    m_mappingStart = start;
    m_mappingLength = static_cast<std::size_t>(mappedLength);
    m_view = static_cast<std::uint8_t*>(start) + delta;
    m_viewLength = static_cast<std::uint32_t>(wanted);
    return m_view;
}

Result<std::uint64_t> MappedFile::checkedRange(const std::string& name, std::uint32_t offset,
                                               std::uint32_t length)
{
    struct stat info {};
    if (::fstat(m_file, &info) != 0)
        return Failure{errno, "fstat " + name};
    if (!S_ISREG(info.st_mode))
        return Failure{0, name + " is not a regular file"};
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    if (fileSize == 0)
        return Failure{0, name + " is empty"};
    // Pages past the end of the file fault when touched, so the range must lie inside the file.
    const std::uint64_t wanted = length != 0 || offset >= fileSize ? length : fileSize - offset;
    if (offset >= fileSize || offset + wanted > fileSize)
        return Failure{0, name + ": range past the end of the file (" + std::to_string(fileSize) +
                              " bytes)"};
    if (wanted > std::numeric_limits<std::uint32_t>::max())
        return Failure{0, name + ": too large to map (" + std::to_string(fileSize) + " bytes)"};
    return wanted;
}

void MappedFile::unmap()
{
    if (m_mappingStart != nullptr)
        ::munmap(m_mappingStart, m_mappingLength);
    m_mappingStart = nullptr;
    m_mappingLength = 0;
    m_view = nullptr;
    m_viewLength = 0;
}

void MappedFile::close()
{
    unmap();
    if (m_file >= 0)
        ::close(m_file);
    m_file = -1;
    m_path.clear();
}

std::uint64_t MappedFile::length() const
{
    if (m_file < 0)
        return 0;
    struct stat info {};
    if (::fstat(m_file, &info) != 0 || info.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

} // namespace tolvane
