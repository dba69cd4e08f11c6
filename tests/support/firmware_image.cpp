#include "support/firmware_image.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tolvane::test {

namespace {

std::vector<std::uint8_t> compress(const std::string& text, gz_header* header)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    if (header != nullptr && deflateSetHeader(&stream, header) != Z_OK) {
        deflateEnd(&stream);
        throw std::runtime_error("deflateSetHeader failed");
    }
    std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(text.size())) + 1024);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    const std::size_t produced = out.size() - stream.avail_out;
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    out.resize(produced);
    return out;
}

} // namespace

std::vector<std::uint8_t> gzipCompress(const std::string& text)
{
    return compress(text, nullptr);
}

FirmwareImageBuilder::FirmwareImageBuilder(Layout layout) : m_layout(layout)
{
    version("3.5.1");
}

FirmwareImageBuilder& FirmwareImageBuilder::content(std::string text)
{
    m_content = std::move(text);
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::version(const std::string& version)
{
    return content("Firmware build for test.\n$Id: something $\n$version: " + version +
                   " $\ntrailing text\n");
}

FirmwareImageBuilder& FirmwareImageBuilder::gzipName(std::string name)
{
    m_gzipName = std::move(name);
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::gzipComment(std::string comment)
{
    m_gzipComment = std::move(comment);
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::gzipExtra(std::vector<std::uint8_t> extra)
{
    m_gzipExtra = std::move(extra);
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::gzipHeaderCrc(bool on)
{
    m_gzipHeaderCrc = on;
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::rawMember(std::vector<std::uint8_t> member)
{
    m_rawMember = std::move(member);
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::corruptMagic(bool on)
{
    m_corruptMagic = on;
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::corruptCrc(bool on)
{
    m_corruptCrc = on;
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::corruptLength(bool on)
{
    m_corruptLength = on;
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::headerLength(std::uint32_t length)
{
    m_headerLength = length;
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::filler(std::uint8_t multiplier, std::uint8_t addend)
{
    m_fillerMultiplier = multiplier;
    m_fillerAddend = addend;
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::totalSize(std::size_t size)
{
    m_totalSize = size;
    return *this;
}

FirmwareImageBuilder& FirmwareImageBuilder::trailingBytes(std::size_t count)
{
    m_trailingBytes = count;
    return *this;
}

std::size_t FirmwareImageBuilder::headerOffset() const
{
    return IntegratedHeaderOffset -
           (m_layout == Layout::ApplicationOnly ? ApplicationOnlyShift : 0);
}

std::size_t FirmwareImageBuilder::memberOffset() const
{
    return IntegratedMemberOffset -
           (m_layout == Layout::ApplicationOnly ? ApplicationOnlyShift : 0);
}

std::uint8_t FirmwareImageBuilder::fillerByte(std::size_t index) const
{
    return static_cast<std::uint8_t>(index * m_fillerMultiplier + m_fillerAddend);
}

std::vector<std::uint8_t> FirmwareImageBuilder::member() const
{
    std::vector<std::uint8_t> bytes;
    if (m_rawMember) {
        bytes = *m_rawMember;
    } else {
        gz_header header{};
        std::string name = m_gzipName.value_or("");
        std::string comment = m_gzipComment.value_or("");
        std::vector<std::uint8_t> extra = m_gzipExtra.value_or(std::vector<std::uint8_t>{});
        header.os = 3;
        if (m_gzipName)
            header.name = reinterpret_cast<Bytef*>(name.data());
        if (m_gzipComment)
            header.comment = reinterpret_cast<Bytef*>(comment.data());
        if (m_gzipExtra) {
            header.extra = extra.data();
            header.extra_len = static_cast<uInt>(extra.size());
        }
        header.hcrc = m_gzipHeaderCrc ? 1 : 0;
        bytes = compress(m_content, &header);
    }
    if (bytes.size() >= 8) {
        if (m_corruptMagic)
            bytes[1] ^= 0xFF;
        // The trailer: CRC-32 then length, both little-endian.
        if (m_corruptCrc)
            bytes[bytes.size() - 8] ^= 0x01;
        if (m_corruptLength)
            bytes[bytes.size() - 4] ^= 0x01;
    }
    return bytes;
}

std::vector<std::uint8_t> FirmwareImageBuilder::build() const
{
    const std::vector<std::uint8_t> gz = member();
    const std::size_t natural = memberOffset() + gz.size() + m_trailingBytes;
    const std::size_t size = m_totalSize.value_or(natural);
    const std::size_t laidOut = std::max(size, memberOffset() + gz.size());

    std::vector<std::uint8_t> image(laidOut);
    for (std::size_t i = 0; i < laidOut; ++i)
        image[i] = fillerByte(i);
    const std::uint32_t length = m_headerLength.value_or(static_cast<std::uint32_t>(gz.size()));
    const std::size_t header = headerOffset();
    image[header] = static_cast<std::uint8_t>(length);
    image[header + 1] = static_cast<std::uint8_t>(length >> 8);
    image[header + 2] = static_cast<std::uint8_t>(length >> 16);
    image[header + 3] = static_cast<std::uint8_t>(length >> 24);
    std::memcpy(image.data() + memberOffset(), gz.data(), gz.size());
    image.resize(size);
    return image;
}

void FirmwareImageBuilder::writeTo(const std::string& path) const
{
    writeFileBytes(path, build());
}

} // namespace tolvane::test
