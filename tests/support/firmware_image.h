#pragma once

#include "support/file_io.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::test {

// Builds firmware image bytes around a gzip member made with zlib from plain text, so every image
// a test uses can be regenerated from its source.
class FirmwareImageBuilder {
public:
    enum class Layout { Integrated, ApplicationOnly };

    static constexpr std::size_t IntegratedHeaderOffset = 0x1CF80;
    static constexpr std::size_t IntegratedMemberOffset = 0x1D000;
    static constexpr std::size_t ApplicationOnlyShift = 0x10000;

    explicit FirmwareImageBuilder(Layout layout = Layout::Integrated);

    // The decompressed content of the member.
    FirmwareImageBuilder& content(std::string text);
    // Content holding "$version: " + version + " $" between some text.
    FirmwareImageBuilder& version(const std::string& version);
    // Optional gzip header fields (FNAME, FCOMMENT, FEXTRA, FHCRC).
    FirmwareImageBuilder& gzipName(std::string name);
    FirmwareImageBuilder& gzipComment(std::string comment);
    FirmwareImageBuilder& gzipExtra(std::vector<std::uint8_t> extra);
    FirmwareImageBuilder& gzipHeaderCrc(bool on = true);
    // Uses these bytes as the member instead of compressing the content.
    FirmwareImageBuilder& rawMember(std::vector<std::uint8_t> member);

    FirmwareImageBuilder& corruptMagic(bool on = true);
    FirmwareImageBuilder& corruptCrc(bool on = true);
    FirmwareImageBuilder& corruptLength(bool on = true);
    // The member length the header claims, instead of the real one.
    FirmwareImageBuilder& headerLength(std::uint32_t length);
    // The bytes outside header and member: byte i is (i * multiplier + addend) mod 256.
    FirmwareImageBuilder& filler(std::uint8_t multiplier, std::uint8_t addend);
    // Total file size: padded with filler, or cut short when smaller than header plus member.
    FirmwareImageBuilder& totalSize(std::size_t size);
    // Filler bytes after the member when no total size is given.
    FirmwareImageBuilder& trailingBytes(std::size_t count);

    std::size_t headerOffset() const;
    std::size_t memberOffset() const;
    // The gzip member as it is placed in the image.
    std::vector<std::uint8_t> member() const;
    std::vector<std::uint8_t> build() const;
    // Writes build() to path; throws std::runtime_error on failure.
    void writeTo(const std::string& path) const;

    std::uint8_t fillerByte(std::size_t index) const;

private:
    Layout m_layout;
    std::string m_content;
    std::optional<std::string> m_gzipName;
    std::optional<std::string> m_gzipComment;
    std::optional<std::vector<std::uint8_t>> m_gzipExtra;
    bool m_gzipHeaderCrc = false;
    std::optional<std::vector<std::uint8_t>> m_rawMember;
    bool m_corruptMagic = false;
    bool m_corruptCrc = false;
    bool m_corruptLength = false;
    std::optional<std::uint32_t> m_headerLength;
    std::uint8_t m_fillerMultiplier = 31;
    std::uint8_t m_fillerAddend = 7;
    std::optional<std::size_t> m_totalSize;
    std::size_t m_trailingBytes = 256;
};

// Compresses text into one gzip member with zlib (no optional header fields).
std::vector<std::uint8_t> gzipCompress(const std::string& text);

} // namespace tolvane::test
