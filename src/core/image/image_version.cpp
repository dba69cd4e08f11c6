#include "core/image/image_version.h"

#include "core/base/byte_order.h"
#include "core/base/regular_file.h"
#include "core/image/image_layout.h"

#include <sys/mman.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>

namespace tolvane {

namespace {

constexpr std::string_view VersionTag = "$version: ";

constexpr const char* FormatViolated = "invalid compressed data--format violated\n";

// Exactly count bytes at offset; false on a read error or an early end.
bool readExactly(ByteSource& image, std::uint64_t offset, std::uint8_t* out, std::size_t count)
{
    const auto got = image.readAt(offset, out, count);
    return got && *got == count;
}

// Bytes of the gzip member, read from the image a block at a time, so a member length that is
// garbage costs no more memory than one block.
class MemberReader {
public:
    static constexpr std::size_t BlockSize = 64 * 1024;

    MemberReader(ByteSource& image, std::uint64_t offset, std::uint64_t size)
        : m_image(image), m_offset(offset), m_size(size), m_block(new std::uint8_t[BlockSize])
    {
    }

    std::uint64_t size() const { return m_size; }

    // The block that starts at index (at most BlockSize bytes, fewer at the end of the member);
    // false when the file cannot be read there.
    bool load(std::uint64_t index)
    {
        const auto count = static_cast<std::size_t>(
            std::min<std::uint64_t>(BlockSize, index < m_size ? m_size - index : 0));
        m_blockStart = index;
        m_blockLength = 0;
        if (!readExactly(m_image, m_offset + index, m_block.get(), count))
            return false;
        m_blockLength = count;
        return true;
    }
    const std::uint8_t* block() const { return m_block.get(); }
    std::size_t blockLength() const { return m_blockLength; }

    // The byte at index < size().
    bool byteAt(std::uint64_t index, std::uint8_t& out)
    {
        if (index < m_blockStart || index >= m_blockStart + m_blockLength) {
            if (!load(index))
                return false;
        }
        out = m_block[static_cast<std::size_t>(index - m_blockStart)];
        return true;
    }

    bool read(std::uint64_t index, std::uint8_t* out, std::size_t count)
    {
        return readExactly(m_image, m_offset + index, out, count);
    }

private:
    ByteSource& m_image;
    std::uint64_t m_offset;
    std::uint64_t m_size;
    std::unique_ptr<std::uint8_t[]> m_block;
    std::uint64_t m_blockStart = 0;
    std::size_t m_blockLength = 0;
};

// The decoder's output: address space mapped and never cleared, so only the pages the decoder
// writes cost memory or time. Empty when the system has no room for it.
class OutputBuffer {
public:
    explicit OutputBuffer(std::size_t size) : m_size(size)
    {
        void* mapped =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_data = mapped == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(mapped);
    }
    ~OutputBuffer()
    {
        if (m_data != nullptr)
            ::munmap(m_data, m_size);
    }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    std::uint8_t* data() const { return m_data; }

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_size;
};

enum class Decoded { Ok, Invalid, ReadFailed };

// Position just past a zero-terminated field starting at pos, or size + 1 when it is not
// terminated.
Decoded skipZeroTerminated(MemberReader& member, std::uint64_t& pos)
{
    std::uint8_t byte = 1;
    while (pos < member.size()) {
        if (!member.byteAt(pos, byte))
            return Decoded::ReadFailed;
        if (byte == 0)
            break;
        ++pos;
    }
    pos = pos < member.size() ? pos + 1 : member.size() + 1;
    return Decoded::Ok;
}

// Position of the deflate data after the gzip header, in pos.
Decoded skipGzipHeader(MemberReader& member, std::uint64_t& pos, std::ostream& diagnostics)
{
    const std::uint64_t size = member.size();
    std::uint8_t header[10] = {};
    if (!member.read(0, header, static_cast<std::size_t>(std::min<std::uint64_t>(size, 10))))
        return Decoded::ReadFailed;
    if (size < 2 || header[0] != 0x1F || header[1] != 0x8B) {
        diagnostics << "Invalid gzip magic\n";
        return Decoded::Invalid;
    }
    if (size < 10 || header[2] != Z_DEFLATED)
        return Decoded::Invalid;
    const std::uint8_t flags = header[3];
    constexpr std::uint8_t HeaderCrc = 0x02, Extra = 0x04, Name = 0x08, Comment = 0x10;
    if ((flags & 0xE0) != 0) {
        diagnostics << FormatViolated;
        return Decoded::Invalid;
    }

    pos = 10;
    if ((flags & Extra) != 0) {
        std::uint8_t extraLength[2];
        if (pos + 2 > size) {
            diagnostics << FormatViolated;
            return Decoded::Invalid;
        }
        if (!member.read(pos, extraLength, 2))
            return Decoded::ReadFailed;
        pos += 2 + (std::uint64_t{extraLength[0]} | std::uint64_t{extraLength[1]} << 8);
    }
    if ((flags & Name) != 0 && pos <= size && skipZeroTerminated(member, pos) != Decoded::Ok)
        return Decoded::ReadFailed;
    if ((flags & Comment) != 0 && pos <= size && skipZeroTerminated(member, pos) != Decoded::Ok)
        return Decoded::ReadFailed;
    if ((flags & HeaderCrc) != 0)
        pos += 2;
    if (pos > size) {
        diagnostics << FormatViolated;
        return Decoded::Invalid;
    }
    return Decoded::Ok;
}

// Owns a raw inflate stream.
class Inflater {
public:
    Inflater() { m_ready = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ready() const { return m_ready; }
    z_stream& stream() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

// The trailer after the deflate data at trailerAt: the CRC-32 and the length of what was decoded.
Decoded checkGzipTrailer(MemberReader& member, std::uint64_t trailerAt, const std::uint8_t* output,
                         std::size_t produced, std::ostream& diagnostics)
{
    std::uint8_t trailer[8];
    if (trailerAt + 8 > member.size()) {
        diagnostics << FormatViolated;
        return Decoded::Invalid;
    }
    if (!member.read(trailerAt, trailer, sizeof trailer))
        return Decoded::ReadFailed;
    const auto crc = static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), output, static_cast<uInt>(produced)));
    if (crc != loadLe32(trailer)) {
        diagnostics << "invalid compressed data--crc error\n";
        return Decoded::Invalid;
    }
    if (static_cast<std::uint32_t>(produced) != loadLe32(trailer + 4)) {
        diagnostics << "invalid compressed data--length error\n";
        return Decoded::Invalid;
    }
    return Decoded::Ok;
}

// Decodes one gzip member into output (capacity bytes, never cleared: only what the decoder
// writes is read), feeding it from the image a block at a time. Writes the decoder's diagnostic
// lines; Ok when the member decoded with a matching CRC-32 and length. produced counts the bytes
// decoded.
Decoded decodeGzipMember(MemberReader& member, std::uint8_t* output, std::size_t capacity,
                         std::size_t& produced, std::ostream& diagnostics)
{
    std::uint64_t pos = 0;
    if (const Decoded header = skipGzipHeader(member, pos, diagnostics); header != Decoded::Ok)
        return header;

    Inflater inflater;
    if (!inflater.ready()) {
        diagnostics << "memory_exhausted\n";
        return Decoded::Invalid;
    }
    z_stream& stream = inflater.stream();
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(capacity);

    std::uint64_t fed = pos; // member bytes handed to the decoder so far
    int status = Z_OK;
    for (;;) {
        if (stream.avail_in == 0 && fed < member.size()) {
            if (!member.load(fed))
                return Decoded::ReadFailed;
            stream.next_in = const_cast<Bytef*>(member.block());
            stream.avail_in = static_cast<uInt>(member.blockLength());
            fed += member.blockLength();
        }
        status = inflate(&stream, Z_NO_FLUSH);
        // Z_OK: progress was made, go on. Anything else ends the member; Z_BUF_ERROR means no
        // progress is possible: the output is full or the member ends early.
        if (status != Z_OK)
            break;
    }
    produced = capacity - stream.avail_out;
    const std::uint64_t consumed = fed - pos - stream.avail_in;
    const std::string_view message = stream.msg != nullptr ? stream.msg : "";

    if (status == Z_MEM_ERROR) {
        diagnostics << "memory_exhausted\n";
        return Decoded::Invalid;
    }
    if (status != Z_STREAM_END) {
        if (message == "invalid literal/lengths set")
            diagnostics << "Incomplete literal tree\n";
        else if (message == "invalid distances set")
            diagnostics << "incomplete distance tree\n";
        diagnostics << FormatViolated;
        return Decoded::Invalid;
    }

    return checkGzipTrailer(member, pos + consumed, output, produced, diagnostics);
}

bool isDigit(std::uint8_t c)
{
    return c >= '0' && c <= '9';
}

// White space as the C library's conversions skip it in the "C" locale.
bool isBlank(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%d" conversion at pos: optional white space, optional sign, at least one digit. A number
// outside int fails instead of being converted (the C library leaves that undefined).
bool convertInt(std::span<const std::uint8_t> text, std::size_t& pos, int& out)
{
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos >= text.size() || !isDigit(text[pos]))
        return false;
    const std::int64_t limit = negative ? -std::int64_t{INT_MIN} : std::int64_t{INT_MAX};
    std::int64_t magnitude = 0;
    for (; pos < text.size() && isDigit(text[pos]); ++pos) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > limit)
            return false;
    }
    out = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

// "%d.%d.%d": true when all three numbers convert. What follows the third is not looked at.
bool convertVersionNumbers(std::span<const std::uint8_t> text, int (&numbers)[3])
{
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        if (!convertInt(text, pos, numbers[i]))
            return false;
    }
    return true;
}

// The version tag in the decoded text of the member; nothing when there is none or it does not
// convert. The text ends where decoding ended, as at a NUL: neither the tag nor a number holds one.
std::optional<std::int32_t> findVersionTag(std::span<const std::uint8_t> decoded)
{
    const auto tag =
        std::search(decoded.begin(), decoded.end(), VersionTag.begin(), VersionTag.end(),
                    [](std::uint8_t byte, char c) { return byte == static_cast<std::uint8_t>(c); });
    if (tag == decoded.end())
        return std::nullopt;
    int numbers[3] = {};
    const auto at = static_cast<std::size_t>(tag - decoded.begin()) + VersionTag.size();
    if (!convertVersionNumbers(decoded.subspan(at), numbers))
        return std::nullopt;
    return packVersion(static_cast<std::uint32_t>(numbers[0]),
                       static_cast<std::uint32_t>(numbers[1]),
                       static_cast<std::uint32_t>(numbers[2]));
}

Failure invalidImage(const std::string& name, const char* what)
{
    return {0, name + ": " + what, MessageId::NoImageFile};
}

// The version of the image in source, named name in failures.
Result<std::int32_t> readVersionFrom(ByteSource& source, const std::string& name,
                                     bool applicationOnly, std::ostream& diagnostics)
{
    const std::uint64_t imageSize = source.size();
    const std::uint64_t shift = applicationOnly ? ApplicationOnlyShift : 0;
    const std::uint64_t headerOffset = VersionHeaderOffset - shift;
    const std::uint64_t memberOffset = VersionMemberOffset - shift;

    // A header or member that lies past the end of the image makes it invalid.
    std::uint8_t header[VersionHeaderSize];
    if (headerOffset + VersionHeaderSize > imageSize ||
        !readExactly(source, headerOffset, header, VersionHeaderSize))
        return invalidImage(name, "no image header");
    const std::uint64_t memberLength = loadLe32(header);
    if (memberOffset + memberLength > imageSize)
        return invalidImage(name, "the compressed member runs past the end of the file");

    try {
        const OutputBuffer output(LargestVersionText);
        if (output.data() == nullptr)
            return Failure{ENOMEM, name, MessageId::OutOfMemoryReadingImage};
        std::size_t produced = 0;
        {
            MemberReader member(source, memberOffset, memberLength);
            if (decodeGzipMember(member, output.data(), LargestVersionText, produced,
                                 diagnostics) != Decoded::Ok)
                return invalidImage(name, "the compressed member does not decode");
        }
        const auto version = findVersionTag({output.data(), produced});
        if (!version)
            return invalidImage(name, "no version tag");
        return *version;
    } catch (const std::bad_alloc&) {
        return Failure{ENOMEM, name, MessageId::OutOfMemoryReadingImage};
    }
}

} // namespace

Result<std::int32_t> readVersion(const std::string& path, bool applicationOnly,
                                 std::ostream& diagnostics)
{
    RegularFile file;
    if (auto opened = file.open(path); !opened) {
        Failure failure = opened.failure();
        failure.message = MessageId::InvalidData;
        return failure;
    }
    return readVersionFrom(file, path, applicationOnly, diagnostics);
}

Result<std::int32_t> readVersion(std::span<const std::uint8_t> image, bool applicationOnly,
                                 std::ostream& diagnostics, const std::string& name)
{
    MemoryBytes source(image);
    return readVersionFrom(source, name, applicationOnly, diagnostics);
}

std::int32_t versionNumberOf(const Result<std::int32_t>& version)
{
    if (version)
        return *version;
    switch (version.failure().message.value_or(MessageId::InvalidData)) {
    case MessageId::NoImageFile: return VersionImageInvalid;
    case MessageId::OutOfMemoryReadingImage: return VersionOutOfMemory;
    default: return VersionFileUnreadable;
    }
}

std::int32_t readImageVersion(const std::string& path, bool applicationOnly,
                              std::ostream& diagnostics)
{
    return versionNumberOf(readVersion(path, applicationOnly, diagnostics));
}

} // namespace tolvane
