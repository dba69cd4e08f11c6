#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// One entry of a protocol's command table: 44 bytes, every field one byte, in this order.
struct PtzCommand {
    static constexpr std::size_t Size = 44;
    std::uint8_t enable = 0; // 0 "Off", 1 "On"
    std::uint8_t repeatCount = 0;
    std::uint8_t senderOffset = 0;
    std::uint8_t receiverOffset = 0;
    std::uint8_t checksumOffset = 0;
    std::uint8_t checksumStart = 0;
    std::uint8_t checksumEnd = 0;
    std::uint8_t commandDelay = 0;
    std::uint8_t checksumMethod = 0;
    std::uint8_t commandLength = 0;
    std::uint8_t nextCommand = 0;
    std::uint8_t dataFormat = 0;
    std::array<std::uint8_t, 32> bytes{};
    friend bool operator==(const PtzCommand&, const PtzCommand&) = default;
};

// One PTZ camera protocol: a 1796-byte little-endian record, the same in memory, in .pdb files and
// in the slots of a PTZ image. Every byte belongs to a field, so decoding and encoding are
// lossless.
struct PtzProtocol {
    static constexpr std::size_t Size = 1796;
    static constexpr int CommandCount = 40;
    static constexpr std::size_t NameField = 24;
    static constexpr std::size_t NameLength = 23; // characters the name may take

    std::int32_t number = 0;
    std::array<char, NameField> name{};
    std::uint8_t parity = 0;   // 0 "NONE", 1 "ODD", 3 "EVEN"
    std::uint8_t dataBits = 0; // 0..3: "BYTE 5".."BYTE 8"
    std::uint8_t stopBits = 0; // 0 "STOP 1", 1 "STOP 2"
    std::uint8_t reserved = 0; // carried along unchanged
    std::int32_t baudRate = 0;
    std::array<PtzCommand, CommandCount> commands{};

    using Bytes = std::array<std::uint8_t, Size>;
    static PtzProtocol fromBytes(const std::uint8_t* bytes); // reads exactly Size bytes
    void toBytes(std::uint8_t* out) const;                   // writes exactly Size bytes
    Bytes toBytes() const;

    // Characters up to the first NUL, never past the 24-byte field.
    std::string nameText() const;
    // Truncates to 23 characters, NUL-pads the first 23 bytes; the 24th byte is left as it was.
    void setName(std::string_view text);
    // "[%03d]%s": the row text of list boxes.
    std::string entryText() const;

    friend bool operator==(const PtzProtocol&, const PtzProtocol&) = default;
};

// The number a row text "[007]Alpha" carries: the characters after the first up to the first ']',
// each taken as a decimal digit. A text without ']' gives 0.
std::int32_t rowNumberFromEntryText(std::string_view text);

// The 40 command labels ("PTZCMD_AUTO_FOCUS" ...) and the serial choice texts.
std::string_view ptzCommandLabel(int index);
inline constexpr int ParityChoiceCount = 3;   // "NONE", "ODD", "EVEN"
inline constexpr int DataBitsChoiceCount = 4; // "BYTE 5" .. "BYTE 8"
inline constexpr int StopBitsChoiceCount = 2; // "STOP 1", "STOP 2"
std::string_view parityChoiceText(int choice);
std::string_view dataBitsChoiceText(int choice);
std::string_view stopBitsChoiceText(int choice);

// Code to choice for display: unknown codes show the first choice.
int parityChoiceFromCode(std::uint8_t code);
int dataBitsChoiceFromCode(std::uint8_t code);
int stopBitsChoiceFromCode(std::uint8_t code);
// Choice to code for storing: parity choice 2 ("EVEN") is stored as 3.
std::uint8_t parityCodeFromChoice(int choice);
std::uint8_t dataBitsCodeFromChoice(int choice);
std::uint8_t stopBitsCodeFromChoice(int choice);

} // namespace tolvane
