#include "core/ptz/ptz_protocol.h"

#include "core/base/byte_order.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace tolvane {

namespace {

// Record layout (little-endian).
constexpr std::size_t NumberOffset = 0;
constexpr std::size_t NameOffset = 4;
constexpr std::size_t ParityOffset = 28;
constexpr std::size_t DataBitsOffset = 29;
constexpr std::size_t StopBitsOffset = 30;
constexpr std::size_t ReservedOffset = 31;
constexpr std::size_t BaudRateOffset = 32;
constexpr std::size_t CommandsOffset = 36;

// Command layout: one byte per field in this order, then the pattern.
constexpr std::size_t CommandSettingCount = 12;
constexpr std::size_t CommandBytesOffset = 12;
constexpr std::size_t CommandPatternSize = 32;

static_assert(NameOffset == NumberOffset + 4);
static_assert(ParityOffset == NameOffset + PtzProtocol::NameField);
static_assert(BaudRateOffset == ReservedOffset + 1);
static_assert(CommandsOffset == BaudRateOffset + 4);
static_assert(CommandBytesOffset == CommandSettingCount);
static_assert(CommandBytesOffset + CommandPatternSize == 44);
static_assert(PtzCommand::Size == 44);
static_assert(CommandsOffset + PtzProtocol::CommandCount * PtzCommand::Size == 1796);
static_assert(PtzProtocol::Size == 1796);

// The settings of a command in their stored order, so decode and encode cannot disagree.
constexpr std::uint8_t PtzCommand::*CommandSettings[CommandSettingCount] = {
    &PtzCommand::enable,         &PtzCommand::repeatCount,    &PtzCommand::senderOffset,
    &PtzCommand::receiverOffset, &PtzCommand::checksumOffset, &PtzCommand::checksumStart,
    &PtzCommand::checksumEnd,    &PtzCommand::commandDelay,   &PtzCommand::checksumMethod,
    &PtzCommand::commandLength,  &PtzCommand::nextCommand,    &PtzCommand::dataFormat,
};
static_assert(std::tuple_size_v<decltype(PtzCommand::bytes)> == CommandPatternSize);

// The command labels, then the choice texts of the serial settings, in one table.
constexpr std::string_view Texts[] = {
    "PTZCMD_AUTO_FOCUS",
    "PTZCMD_AUTO_FOCUS_2",
    "PTZCMD_AUTO_IRIS",
    "PTZCMD_AUTO_IRIS_2",
    "PTZCMD_IDDISPLAY",
    "PTZCMD_IDDISPLAY_2",
    "PTZCMD_PAN_LEFT",
    "PTZCMD_PAN_LEFT_2",
    "PTZCMD_PAN_RIGHT",
    "PTZCMD_PAN_RIGHT_2",
    "PTZCMD_TILT_UP",
    "PTZCMD_TILT_UP_2",
    "PTZCMD_TILT_DOWN",
    "PTZCMD_TILT_DOWN_2",
    "PTZCMD_UPLEFT",
    "PTZCMD_UPLEFT_2",
    "PTZCMD_UPRIGHT",
    "PTZCMD_UPRIGHT_2",
    "PTZCMD_DOWNLEFT",
    "PTZCMD_DOWNLEFT_2",
    "PTZCMD_DOWNRIGHT",
    "PTZCMD_DOWNRIGHT_2",
    "PTZCMD_ZOOM_IN",
    "PTZCMD_ZOOM_IN_2",
    "PTZCMD_ZOOM_OUT",
    "PTZCMD_ZOOM_OUT_2",
    "PTZCMD_FOCUS_FAR",
    "PTZCMD_FOCUS_FAR_2",
    "PTZCMD_FOCUS_NEAR",
    "PTZCMD_FOCUS_NEAR_2",
    "PTZCMD_IRIS_CLOSE",
    "PTZCMD_IRIS_CLOSE_2",
    "PTZCMD_IRIS_OPEN",
    "PTZCMD_IRIS_OPEN_2",
    "PTZCMD_STOP",
    "PTZCMD_STOP_2",
    "PTZCMD_RESERVED36",
    "PTZCMD_RESERVED37",
    "PTZCMD_RESERVED38",
    "PTZCMD_RESERVED39",
    "NONE",
    "ODD",
    "EVEN", //
    "BYTE 5",
    "BYTE 6",
    "BYTE 7",
    "BYTE 8",
    "STOP 1",
    "STOP 2",
};
constexpr int ParityTexts = PtzProtocol::CommandCount;
constexpr int DataBitsTexts = ParityTexts + ParityChoiceCount;
constexpr int StopBitsTexts = DataBitsTexts + DataBitsChoiceCount;
static_assert(std::size(Texts) == StopBitsTexts + StopBitsChoiceCount);

// The texts were always kept in fixed 40-character slots; none may outgrow one (terminator
// included).
constexpr bool textsFitSlots()
{
    for (const std::string_view text : Texts) {
        if (text.size() >= 40)
            return false;
    }
    return true;
}
static_assert(textsFitSlots());

std::string_view textAt(int first, int count, int index)
{
    if (index < 0 || index >= count)
        return {};
    return Texts[first + index];
}

} // namespace

PtzProtocol PtzProtocol::fromBytes(const std::uint8_t* bytes)
{
    PtzProtocol record;
    record.number = static_cast<std::int32_t>(loadLe32(bytes + NumberOffset));
    for (std::size_t i = 0; i < NameField; ++i)
        record.name[i] = static_cast<char>(bytes[NameOffset + i]);
    record.parity = bytes[ParityOffset];
    record.dataBits = bytes[DataBitsOffset];
    record.stopBits = bytes[StopBitsOffset];
    record.reserved = bytes[ReservedOffset];
    record.baudRate = static_cast<std::int32_t>(loadLe32(bytes + BaudRateOffset));
    for (std::size_t k = 0; k < CommandCount; ++k) {
        const std::uint8_t* in = bytes + CommandsOffset + k * PtzCommand::Size;
        PtzCommand& command = record.commands[k];
        for (std::size_t f = 0; f < CommandSettingCount; ++f)
            command.*CommandSettings[f] = in[f];
        std::copy_n(in + CommandBytesOffset, CommandPatternSize, command.bytes.begin());
    }
    return record;
}

void PtzProtocol::toBytes(std::uint8_t* out) const
{
    storeLe32(out + NumberOffset, static_cast<std::uint32_t>(number));
    for (std::size_t i = 0; i < NameField; ++i)
        out[NameOffset + i] = static_cast<std::uint8_t>(name[i]);
    out[ParityOffset] = parity;
    out[DataBitsOffset] = dataBits;
    out[StopBitsOffset] = stopBits;
    out[ReservedOffset] = reserved;
    storeLe32(out + BaudRateOffset, static_cast<std::uint32_t>(baudRate));
    for (std::size_t k = 0; k < CommandCount; ++k) {
        std::uint8_t* o = out + CommandsOffset + k * PtzCommand::Size;
        const PtzCommand& command = commands[k];
        for (std::size_t f = 0; f < CommandSettingCount; ++f)
            o[f] = command.*CommandSettings[f];
        std::copy_n(command.bytes.begin(), CommandPatternSize, o + CommandBytesOffset);
    }
}

PtzProtocol::Bytes PtzProtocol::toBytes() const
{
    Bytes bytes{};
    toBytes(bytes.data());
    return bytes;
}

std::string PtzProtocol::nameText() const
{
    const auto end = std::find(name.begin(), name.end(), '\0');
    return std::string(name.begin(), end);
}

void PtzProtocol::setName(std::string_view text)
{
    const std::size_t length = std::min(text.size(), NameLength);
    std::fill_n(name.begin(), NameLength, '\0');
    std::copy_n(text.begin(), length, name.begin());
}

std::string PtzProtocol::entryText() const
{
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "[%03d]", static_cast<int>(number));
    return prefix + nameText();
}

std::int32_t rowNumberFromEntryText(std::string_view text)
{
    const auto close = text.find(']');
    if (close == std::string_view::npos || text.empty())
        return 0;
    std::string_view digits = text.substr(1, close - 1);
    // The entry text writes negative numbers with a sign; read it back so such rows can be found.
    bool negative = false;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    // Unsigned, so a long or odd text wraps instead of overflowing.
    std::uint32_t value = 0;
    for (const char c : digits)
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
    if (negative)
        value = 0u - value;
    return static_cast<std::int32_t>(value);
}

std::string_view ptzCommandLabel(int index)
{
    return textAt(0, PtzProtocol::CommandCount, index);
}

std::string_view parityChoiceText(int choice)
{
    return textAt(ParityTexts, ParityChoiceCount, choice);
}

std::string_view dataBitsChoiceText(int choice)
{
    return textAt(DataBitsTexts, DataBitsChoiceCount, choice);
}

std::string_view stopBitsChoiceText(int choice)
{
    return textAt(StopBitsTexts, StopBitsChoiceCount, choice);
}

int parityChoiceFromCode(std::uint8_t code)
{
    switch (code) {
    case 0: return 0;
    case 1: return 1;
    case 3: return 2; // a 16550 line control register's even-parity value
    default: return 0;
    }
}

int dataBitsChoiceFromCode(std::uint8_t code)
{
    return code < DataBitsChoiceCount ? code : 0;
}

int stopBitsChoiceFromCode(std::uint8_t code)
{
    return code < StopBitsChoiceCount ? code : 0;
}

std::uint8_t parityCodeFromChoice(int choice)
{
    switch (choice) {
    case 1: return 1;
    case 2: return 3;
    default: return 0;
    }
}

std::uint8_t dataBitsCodeFromChoice(int choice)
{
    return choice >= 0 && choice < DataBitsChoiceCount ? static_cast<std::uint8_t>(choice) : 0;
}

std::uint8_t stopBitsCodeFromChoice(int choice)
{
    return choice >= 0 && choice < StopBitsChoiceCount ? static_cast<std::uint8_t>(choice) : 0;
}

} // namespace tolvane
