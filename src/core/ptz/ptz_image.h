#pragma once

#include "core/base/failure.h"
#include "core/ptz/ptz_protocol.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tolvane {

// A PTZ image: a checksum word and 36 protocol slots, byte for byte a .bin file. An empty slot is
// 1796 bytes of 0xFF (number -1). Operations on the slots return nonzero on success.
class PtzImage {
public:
    static constexpr int SlotCount = 36;
    static constexpr std::size_t FileSize = 4 + SlotCount * PtzProtocol::Size; // 64660

    // The sum of the little-endian 32-bit words of bytes, modulo 2^32 (a trailing part word is
    // left out).
    static std::uint32_t WordSum(const std::uint8_t* bytes, std::size_t size);
    // What a recorder takes as a PTZ image: exactly FileSize bytes whose words sum to 0.
    static bool IsValidFile(const std::uint8_t* bytes, std::uint64_t size);

    PtzImage(); // every byte 0xFF
    virtual ~PtzImage() = default;

    int ClearSlot(int index); // -1 clears the whole image
    int SetAt(int index, const PtzProtocol& record);
    int GetAt(int index, PtzProtocol& out) const;
    int ContainsNumber(std::int32_t number) const; // empty slots included
    int RemoveSlot(int index);                     // -1 clears the whole image
    int MoveSlotUp(int index);
    int MoveSlotDown(int index);
    void UpdateChecksum();
    std::uint32_t Checksum() const;
    // Slots before the first empty one.
    int UsedSlotCount() const;

    // Updates the checksum and replaces the file atomically.
    Result<void> write(const std::string& path);
    // Reads a 64660-byte file; on any failure the image stays as it was. A failure names the file
    // and, where the system gave one, its reason.
    Result<void> read(const std::string& path);
    // The same from a file's bytes, named `name` in a failure: the first 64660 of them, the rest
    // left out as read() leaves it.
    Result<void> readBytes(std::span<const std::uint8_t> bytes,
                           const std::string& name = "PTZ image");

    // write and read, answering nonzero on success.
    int WriteFile(const std::string& path) { return write(path) ? 1 : 0; }
    int ReadFile(const std::string& path) { return read(path) ? 1 : 0; }

    const std::array<std::uint8_t, FileSize>& Bytes() const { return m_bytes; }

private:
    std::array<std::uint8_t, FileSize> m_bytes;
};

} // namespace tolvane
