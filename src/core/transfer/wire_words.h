#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tolvane {

// Download type codes: 0x55AB0000 plus a kind number, sent first in every transfer.
namespace TypeCode {
inline constexpr std::uint32_t IntegratedImage = 0x55AB0001;
inline constexpr std::uint32_t ApplicationImage = 0x55AB0003;
inline constexpr std::uint32_t MacAddress = 0x55AB0005;
inline constexpr std::uint32_t SerialNumber = 0x55AB0006;
inline constexpr std::uint32_t MacAndSerial = 0x55AB0007;
inline constexpr std::uint32_t PtzImage = 0x55AB0008;
inline constexpr std::uint32_t FirmwareVersion = 0x55AB0009;
} // namespace TypeCode

// Words the recorder answers with. Every protocol word travels big-endian.
inline constexpr std::uint32_t Acknowledgement = 0xAB55AB55;
inline constexpr std::uint32_t Refusal = 0xAB55FF01;

// "0x55AB0009", as words are shown in diagnostics and logs.
inline std::string wordText(std::uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, word);
    return text;
}

constexpr std::uint32_t typeAnswerFor(std::uint32_t typeCode)
{
    return 0xAB550000u | (typeCode & 0xFFFFu);
}

// The compatibility check is the only transfer acknowledged once.
constexpr bool isCompatibilityCheck(std::uint32_t typeCode)
{
    return typeCode == TypeCode::FirmwareVersion;
}

} // namespace tolvane
