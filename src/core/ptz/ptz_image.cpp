#include "core/ptz/ptz_image.h"

#include "core/base/atomic_file.h"
#include "core/base/byte_order.h"
#include "core/base/regular_file.h"

#include <algorithm>
#include <memory>

namespace tolvane {

namespace {

constexpr std::size_t ChecksumSize = 4;
constexpr std::uint8_t Empty = 0xFF;
static_assert(PtzImage::FileSize == 64660);
static_assert(PtzImage::FileSize % 4 == 0);

constexpr std::size_t slotOffset(int index)
{
    return ChecksumSize + static_cast<std::size_t>(index) * PtzProtocol::Size;
}

bool validSlot(int index)
{
    return index >= 0 && index < PtzImage::SlotCount;
}

} // namespace

std::uint32_t PtzImage::WordSum(const std::uint8_t* bytes, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 4 <= size; i += 4)
        sum += loadLe32(bytes + i);
    return sum;
}

bool PtzImage::IsValidFile(const std::uint8_t* bytes, std::uint64_t size)
{
    return bytes != nullptr && size == FileSize && WordSum(bytes, FileSize) == 0;
}

PtzImage::PtzImage()
{
    m_bytes.fill(Empty);
}

int PtzImage::ClearSlot(int index)
{
    if (index == -1) {
        m_bytes.fill(Empty);
        return 1;
    }
    if (!validSlot(index))
        return 0;
    std::fill_n(m_bytes.begin() + slotOffset(index), PtzProtocol::Size, Empty);
    return 1;
}

int PtzImage::SetAt(int index, const PtzProtocol& record)
{
    if (!validSlot(index))
        return 0;
    record.toBytes(m_bytes.data() + slotOffset(index));
    return 1;
}

int PtzImage::GetAt(int index, PtzProtocol& out) const
{
    if (!validSlot(index))
        return 0;
    out = PtzProtocol::fromBytes(m_bytes.data() + slotOffset(index));
    return 1;
}

int PtzImage::ContainsNumber(std::int32_t number) const
{
    for (int i = 0; i < SlotCount; ++i) {
        if (static_cast<std::int32_t>(loadLe32(m_bytes.data() + slotOffset(i))) == number)
            return 1;
    }
    return 0;
}

int PtzImage::RemoveSlot(int index)
{
    if (index == -1)
        return ClearSlot(-1);
    if (!validSlot(index))
        return 0;
    const auto first = m_bytes.begin() + slotOffset(index);
    std::copy(first + PtzProtocol::Size, m_bytes.end(), first);
    return ClearSlot(SlotCount - 1);
}

int PtzImage::MoveSlotUp(int index)
{
    if (!validSlot(index))
        return 0;
    if (index == 0)
        return 1;
    std::swap_ranges(m_bytes.begin() + slotOffset(index - 1), m_bytes.begin() + slotOffset(index),
                     m_bytes.begin() + slotOffset(index));
    return 1;
}

int PtzImage::MoveSlotDown(int index)
{
    if (!validSlot(index))
        return 0;
    if (index == SlotCount - 1)
        return 1;
    std::swap_ranges(m_bytes.begin() + slotOffset(index), m_bytes.begin() + slotOffset(index + 1),
                     m_bytes.begin() + slotOffset(index + 1));
    return 1;
}

void PtzImage::UpdateChecksum()
{
    const std::uint32_t sum = WordSum(m_bytes.data() + ChecksumSize, FileSize - ChecksumSize);
    // The word that makes the whole image sum to zero.
    storeLe32(m_bytes.data(), 0u - sum);
}

std::uint32_t PtzImage::Checksum() const
{
    return loadLe32(m_bytes.data());
}

int PtzImage::UsedSlotCount() const
{
    int used = 0;
    while (used < SlotCount &&
           static_cast<std::int32_t>(loadLe32(m_bytes.data() + slotOffset(used))) != -1)
        ++used;
    return used;
}

Result<void> PtzImage::write(const std::string& path)
{
    UpdateChecksum();
    return writeFileAtomically(path, m_bytes);
}

Result<void> PtzImage::read(const std::string& path)
{
    RegularFile file;
    if (auto opened = file.open(path); !opened)
        return opened;
    // Into a buffer first: a short file must not leave half of it mixed into the image.
    auto buffer = std::make_unique<std::array<std::uint8_t, FileSize>>();
    const auto got = file.read(buffer->data(), buffer->size());
    if (!got)
        return got.failure();
    return readBytes({buffer->data(), *got}, path);
}

Result<void> PtzImage::readBytes(std::span<const std::uint8_t> bytes, const std::string& name)
{
    if (bytes.size() < FileSize)
        return Failure{0, name + ": " + std::to_string(bytes.size()) + " bytes, a PTZ image has " +
                              std::to_string(FileSize)};
    std::copy_n(bytes.begin(), FileSize, m_bytes.begin());
    return {};
}

} // namespace tolvane
