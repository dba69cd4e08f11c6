// The firmware version reader fed whole images, read in both layouts. zlib's own gzip decoder and
// the C library's strtol say independently what the answer must be: a version exactly when the
// member in the image decodes whole into at most 4 MiB and its first "$version: " tag holds three
// numbers that fit an int, separated by dots; otherwise a failure that names its message.
#include "core/base/messages.h"
#include "core/image/image_layout.h"
#include "core/image/image_version.h"
#include "fuzz_check.h"

#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tolvane::ApplicationOnlyShift;
using tolvane::LargestVersionText;
using tolvane::VersionHeaderOffset;
using tolvane::VersionHeaderSize;
using tolvane::VersionMemberOffset;

constexpr std::uint8_t HeaderCrcFlag = 0x02;

enum class Expected { Version, Invalid, Unknown };

// The member's text as zlib's gzip decoder gives it, or nothing when it does not decode whole
// into at most LargestVersionText bytes.
std::optional<std::string> zlibText(const std::uint8_t* member, std::size_t size)
{
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return std::nullopt;
    stream.next_in = const_cast<Bytef*>(member);
    stream.avail_in = static_cast<uInt>(size);
    // Grown a block at a time: most members are short or broken early.
    std::string text;
    Bytef block[64 * 1024];
    int status = Z_OK;
    while (status == Z_OK && text.size() <= LargestVersionText) {
        stream.next_out = block;
        stream.avail_out = sizeof block;
        status = inflate(&stream, Z_NO_FLUSH);
        text.append(reinterpret_cast<const char*>(block), sizeof block - stream.avail_out);
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END || text.size() > LargestVersionText)
        return std::nullopt;
    return text;
}

// "%d.%d.%d" after the first tag, each number read by strtol and refused outside int.
std::optional<std::int32_t> versionInText(const std::string& text)
{
    const auto tag = text.find("$version: ");
    if (tag == std::string::npos)
        return std::nullopt;
    const char* at = text.c_str() + tag + 10;
    std::uint32_t version = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && *at++ != '.')
            return std::nullopt;
        char* end = nullptr;
        errno = 0;
        const long number = std::strtol(at, &end, 10);
        if (end == at || errno == ERANGE || number < INT_MIN || number > INT_MAX)
            return std::nullopt;
        version = version * 256u + static_cast<std::uint32_t>(static_cast<int>(number));
        at = end;
    }
    return static_cast<std::int32_t>(version * 256u);
}

void checkLayout(const std::uint8_t* data, std::size_t size, bool applicationOnly)
{
    using namespace tolvane;
    std::ostringstream diagnostics;
    const Result<std::int32_t> version = readVersion({data, size}, applicationOnly, diagnostics);
    if (version) {
        FUZZ_CHECK((*version & 0xFF) == 0);
        FUZZ_CHECK(diagnostics.str().empty());
    } else {
        const auto message = version.failure().message;
        FUZZ_CHECK(message == MessageId::NoImageFile ||
                   message == MessageId::OutOfMemoryReadingImage);
        if (message == MessageId::OutOfMemoryReadingImage)
            return; // nothing to compare: the reader had no room
    }

    const std::size_t shift = applicationOnly ? ApplicationOnlyShift : 0;
    const std::size_t headerOffset = VersionHeaderOffset - shift;
    const std::size_t memberOffset = VersionMemberOffset - shift;
    if (headerOffset + VersionHeaderSize > size) {
        FUZZ_CHECK(!version);
        return;
    }
    const std::uint64_t memberLength =
        std::uint64_t{data[headerOffset]} | std::uint64_t{data[headerOffset + 1]} << 8 |
        std::uint64_t{data[headerOffset + 2]} << 16 | std::uint64_t{data[headerOffset + 3]} << 24;
    if (memberOffset + memberLength > size) {
        FUZZ_CHECK(!version);
        return;
    }
    // zlib checks a gzip header's own CRC, which the reader leaves alone: no verdict then.
    if (memberLength >= 4 && (data[memberOffset + 3] & HeaderCrcFlag) != 0)
        return;
    const auto text = zlibText(data + memberOffset, static_cast<std::size_t>(memberLength));
    const auto expected = text ? versionInText(*text) : std::nullopt;
    FUZZ_CHECK(version.ok() == expected.has_value());
    if (version)
        FUZZ_CHECK(*version == *expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkLayout(data, size, false);
    checkLayout(data, size, true);
    return 0;
}
