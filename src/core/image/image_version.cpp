#include "image/image_version.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace {

constexpr std::uint64_t HeaderOffset = 0x1CF80;
constexpr std::uint64_t MemberOffset = 0x1D000;
constexpr std::uint64_t ApplicationOnlyShift = 0x10000;
constexpr std::size_t HeaderSize = 60;
constexpr std::size_t OutputCapacity = 4 * 1024 * 1024;
constexpr std::string_view VersionTag = "$version: ";

constexpr const char* FormatViolated = "invalid compressed data--format violated\n";

// Closes the descriptor on every way out.
class FileCloser {
public:
    explicit FileCloser(int file) : m_file(file) {}
    ~FileCloser()
    {
        if (m_file >= 0)
            ::close(m_file);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    int m_file;
};

// Reads exactly size bytes at offset; false on an error or an early end of file.
bool readAt(int file, std::uint8_t* buffer, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(file, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

std::uint32_t littleEndian32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Position just past a zero-terminated field starting at pos, or size when it is not terminated.
std::size_t skipZeroTerminated(const std::uint8_t* member, std::size_t size, std::size_t pos)
{
    while (pos < size && member[pos] != 0)
        ++pos;
    return pos < size ? pos + 1 : size + 1;
}

// Decodes one gzip member into output (zero-filled, capacity bytes). Writes the decoder's
// diagnostic lines; true when the member decoded with a matching CRC-32 and length.
bool decodeGzipMember(const std::uint8_t* member, std::size_t size, std::uint8_t* output,
                      std::size_t capacity, std::ostream& diagnostics)
{
    if (size < 2 || member[0] != 0x1F || member[1] != 0x8B) {
        diagnostics << "Invalid gzip magic\n";
        return false;
    }
    if (size < 10 || member[2] != Z_DEFLATED)
        return false;
    const std::uint8_t flags = member[3];
    constexpr std::uint8_t HeaderCrc = 0x02, Extra = 0x04, Name = 0x08, Comment = 0x10;
    if ((flags & 0xE0) != 0) {
        diagnostics << FormatViolated;
        return false;
    }

    std::size_t pos = 10;
    if ((flags & Extra) != 0) {
        if (pos + 2 > size) {
            diagnostics << FormatViolated;
            return false;
        }
        pos += 2 + (static_cast<std::size_t>(member[pos]) | std::size_t{member[pos + 1]} << 8);
    }
    if ((flags & Name) != 0 && pos <= size)
        pos = skipZeroTerminated(member, size, pos);
    if ((flags & Comment) != 0 && pos <= size)
        pos = skipZeroTerminated(member, size, pos);
    if ((flags & HeaderCrc) != 0)
        pos += 2;
    if (pos > size) {
        diagnostics << FormatViolated;
        return false;
    }

    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        diagnostics << "memory_exhausted\n";
        return false;
    }
    // zlib counts in uInt; the member has been bounded by the caller to what a file holds.
    stream.next_in = const_cast<Bytef*>(member + pos);
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(size - pos, 0xFFFFFFFFu));
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(capacity);
    const int status = inflate(&stream, Z_FINISH);
    const std::size_t produced = capacity - stream.avail_out;
    const std::size_t consumed = (size - pos) - stream.avail_in;
    const std::string_view message = stream.msg != nullptr ? stream.msg : "";
    inflateEnd(&stream);

    if (status == Z_MEM_ERROR) {
        diagnostics << "memory_exhausted\n";
        return false;
    }
    if (status != Z_STREAM_END) {
        // Also reached when the data would decode past the output buffer, or the member ends early.
        if (message == "invalid literal/lengths set")
            diagnostics << "Incomplete literal tree\n";
        else if (message == "invalid distances set")
            diagnostics << "incomplete distance tree\n";
        diagnostics << FormatViolated;
        return false;
    }

    const std::size_t trailer = pos + consumed;
    if (trailer + 8 > size) {
        diagnostics << FormatViolated;
        return false;
    }
    const auto crc = static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), output, static_cast<uInt>(produced)));
    if (crc != littleEndian32(member + trailer)) {
        diagnostics << "invalid compressed data--crc error\n";
        return false;
    }
    if (static_cast<std::uint32_t>(produced) != littleEndian32(member + trailer + 4)) {
        diagnostics << "invalid compressed data--length error\n";
        return false;
    }
    return true;
}

} // namespace

std::int32_t readImageVersion(const std::string& path, bool applicationOnly,
                              std::ostream& diagnostics)
{
    int file = -1;
    do {
        file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (file < 0 && errno == EINTR);
    if (file < 0)
        return VersionFileUnreadable;
    FileCloser closer(file);

    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode))
        return VersionFileUnreadable;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);

    const std::uint64_t shift = applicationOnly ? ApplicationOnlyShift : 0;
    const std::uint64_t headerOffset = HeaderOffset - shift;
    const std::uint64_t memberOffset = MemberOffset - shift;

    // A header or member that lies past the end of the file makes the image invalid.
    std::uint8_t header[HeaderSize];
    if (headerOffset + HeaderSize > fileSize || !readAt(file, header, HeaderSize, headerOffset))
        return VersionImageInvalid;
    const std::uint64_t memberLength = littleEndian32(header);
    if (memberOffset + memberLength > fileSize)
        return VersionImageInvalid;

    try {
        const auto memberSize = static_cast<std::size_t>(memberLength);
        std::unique_ptr<std::uint8_t[]> member(new std::uint8_t[memberSize == 0 ? 1 : memberSize]);
        if (!readAt(file, member.get(), memberSize, memberOffset))
            return VersionImageInvalid;

        // One byte more than the decoder may fill keeps the text conversion inside the buffer.
        std::unique_ptr<std::uint8_t[]> output(new std::uint8_t[OutputCapacity + 1]());
        if (!decodeGzipMember(member.get(), memberSize, output.get(), OutputCapacity, diagnostics))
            return VersionImageInvalid;
        member.reset();

        const char* text = reinterpret_cast<const char*>(output.get());
        const std::string_view decoded(text, OutputCapacity);
        const std::size_t tag = decoded.find(VersionTag);
        if (tag == std::string_view::npos)
            return VersionImageInvalid;

        int major = 0;
        int minor = 0;
        int patch = 0;
        if (std::sscanf(text + tag + VersionTag.size(), "%d.%d.%d $", &major, &minor, &patch) != 3)
            return VersionImageInvalid;

        const std::uint32_t version =
            ((static_cast<std::uint32_t>(major) * 256u + static_cast<std::uint32_t>(minor)) * 256u +
             static_cast<std::uint32_t>(patch)) *
            256u;
        return static_cast<std::int32_t>(version);
    } catch (const std::bad_alloc&) {
        return VersionOutOfMemory;
    }
}

std::int32_t announcedApplicationVersion(std::int32_t version)
{
    const auto bits = static_cast<std::uint32_t>(version);
    if ((bits >> 16) != 0x0307u)
        return version;
    return static_cast<std::int32_t>((bits & 0xFF00FFFFu) + 0x00050000u);
}

std::string formatVersion(std::int32_t version)
{
    const auto bits = static_cast<std::uint32_t>(version);
    return std::to_string(bits >> 24) + "." + std::to_string((bits >> 16) & 0xFFu) + "." +
           std::to_string((bits >> 8) & 0xFFu);
}

} // namespace tolvane
