#include "sim/demo_files.h"

#include "core/base/atomic_file.h"
#include "core/base/byte_order.h"
#include "core/image/identity_area.h"
#include "core/image/image_layout.h"
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <system_error>
#include <vector>
#include <zlib.h>

namespace tolvane::sim {

namespace {

constexpr std::size_t ImageSize = 8 * 1024 * 1024; // big enough for the progress bar to move

// The decompressed firmware: a little text around the version tag the tool looks for, then
// filler so the member is of a believable size.
std::vector<std::uint8_t> firmwareContent()
{
    constexpr std::string_view text = "Tolvane demo recorder firmware\n"
                                      "build: demo\n"
                                      "$version: 3.5.1 $\n";
    std::vector<std::uint8_t> content(text.begin(), text.end());
    for (std::uint32_t i = 0; content.size() < 256 * 1024; ++i)
        content.push_back(static_cast<std::uint8_t>("demo-firmware-"[i % 14] ^ (i >> 10)));
    return content;
}

// One gzip member of data, as the firmware packer makes it.
Result<std::vector<std::uint8_t>> gzipMember(const std::vector<std::uint8_t>& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return Failure{0, "zlib could not start compressing"};
    std::vector<std::uint8_t> member(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data()); // zlib does not write through it
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = member.data();
    stream.avail_out = static_cast<uInt>(member.size());
    const int result = deflate(&stream, Z_FINISH);
    member.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return Failure{0, "zlib could not compress the demo firmware"};
    return member;
}

// An 8 MiB image: deterministic filler, the header whose first word is the member length
// (little-endian), and the member.
std::vector<std::uint8_t> firmwareImage(const std::vector<std::uint8_t>& member,
                                        bool applicationOnly)
{
    std::vector<std::uint8_t> image(ImageSize);
    std::uint32_t state = 0x2545F491;
    for (auto& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    if (!applicationOnly)
        // A unit's MAC address and serial number are not written yet.
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(IdentityAreaOffset),
                    IdentityAreaSize, std::uint8_t{0});
    const std::uint64_t shift = applicationOnly ? ApplicationOnlyShift : 0;
    const auto header = static_cast<std::ptrdiff_t>(VersionHeaderOffset - shift);
    std::fill_n(image.begin() + header, VersionHeaderSize, std::uint8_t{0});
    storeLe32(image.data() + header, static_cast<std::uint32_t>(member.size()));
    std::copy(member.begin(), member.end(),
              image.begin() + static_cast<std::ptrdiff_t>(VersionMemberOffset - shift));
    return image;
}

struct CommandEntry {
    int index; // place in the command table
    std::uint8_t senderOffset, receiverOffset;
    std::uint8_t checksumOffset, checksumStart, checksumEnd, checksumMethod;
    std::vector<std::uint8_t> bytes;
};

PtzProtocol makeProtocol(std::int32_t number, std::string_view name, std::int32_t baudRate,
                         std::initializer_list<CommandEntry> commands)
{
    PtzProtocol protocol;
    protocol.number = number;
    protocol.setName(name);
    protocol.parity = 0;   // NONE
    protocol.dataBits = 3; // BYTE 8
    protocol.stopBits = 0; // STOP 1
    protocol.baudRate = baudRate;
    for (const auto& entry : commands) {
        PtzCommand& command = protocol.commands[static_cast<std::size_t>(entry.index)];
        command.enable = 1;
        command.repeatCount = 1;
        command.senderOffset = entry.senderOffset;
        command.receiverOffset = entry.receiverOffset;
        command.checksumOffset = entry.checksumOffset;
        command.checksumStart = entry.checksumStart;
        command.checksumEnd = entry.checksumEnd;
        command.commandDelay = 10;
        command.checksumMethod = entry.checksumMethod;
        command.commandLength = static_cast<std::uint8_t>(entry.bytes.size());
        command.nextCommand = 0xFF;
        std::copy(entry.bytes.begin(), entry.bytes.end(), command.bytes.begin());
    }
    return protocol;
}

constexpr int PanLeft = 6, PanRight = 8, Stop = 34;

// Camera address 1, pan at medium speed; checksums worked out for each pattern.
std::vector<PtzProtocol> demoProtocols()
{
    return {
        // Sum of bytes 1-5, modulo 256.
        makeProtocol(0, "Pelco-D", 2400,
                     {{PanLeft, 0, 1, 6, 1, 5, 1, {0xFF, 0x01, 0x00, 0x04, 0x20, 0x00, 0x25}},
                      {PanRight, 0, 1, 6, 1, 5, 1, {0xFF, 0x01, 0x00, 0x02, 0x20, 0x00, 0x23}},
                      {Stop, 0, 1, 6, 1, 5, 1, {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}}}),
        // Exclusive or of bytes 0-6.
        makeProtocol(
            1, "Pelco-P", 4800,
            {{PanLeft, 0, 1, 7, 0, 6, 2, {0xA0, 0x00, 0x00, 0x04, 0x20, 0x00, 0xAF, 0x2B}},
             {PanRight, 0, 1, 7, 0, 6, 2, {0xA0, 0x00, 0x00, 0x02, 0x20, 0x00, 0xAF, 0x2D}},
             {Stop, 0, 1, 7, 0, 6, 2, {0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0F}}}),
        // 0xFF minus the sum of bytes 1-6.
        makeProtocol(
            2, "Samsung", 9600,
            {{PanLeft, 1, 2, 7, 1, 6, 3, {0xA0, 0x00, 0x01, 0x00, 0x04, 0x20, 0x00, 0xDA}},
             {PanRight, 1, 2, 7, 1, 6, 3, {0xA0, 0x00, 0x01, 0x00, 0x02, 0x20, 0x00, 0xDC}},
             {Stop, 1, 2, 7, 1, 6, 3, {0xA0, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFE}}}),
    };
}

} // namespace

Result<void> writeDemoFiles(const std::string& directory)
{
    std::error_code code;
    std::filesystem::create_directories(directory, code);
    if (code)
        return Failure{code.value(), "create " + directory};
    const std::string base = directory + "/";

    const auto member = gzipMember(firmwareContent());
    if (!member)
        return member.failure();
    for (const auto& [name, applicationOnly] :
         {std::pair{DemoApplicationImageName, true}, std::pair{DemoIntegratedImageName, false}}) {
        if (auto written =
                writeFileAtomically(base + name, firmwareImage(*member, applicationOnly));
            !written)
            return written;
    }

    const auto protocols = demoProtocols();
    PtzProtocolList list;
    PtzImage image;
    list.Grow(static_cast<int>(protocols.size()));
    for (std::size_t i = 0; i < protocols.size(); ++i) {
        list.SetAt(static_cast<int>(i), protocols[i]);
        image.SetAt(static_cast<int>(i), protocols[i]);
    }
    if (auto saved = list.save(base + DemoProtocolDatabaseName); !saved)
        return saved;
    return image.write(base + DemoPtzImageName);
}

} // namespace tolvane::sim
