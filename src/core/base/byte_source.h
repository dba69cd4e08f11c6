#pragma once

#include "core/base/failure.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tolvane {

// Bytes read by offset, from a file or from memory, so a reader of a format takes either.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Up to count bytes from offset, fewer only at the end.
    virtual Result<std::size_t> readAt(std::uint64_t offset, std::uint8_t* out,
                                       std::size_t count) = 0;
};

// Bytes already in memory; they must outlive the source.
class MemoryBytes final : public ByteSource {
public:
    explicit MemoryBytes(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    Result<std::size_t> readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count) override
    {
        if (offset >= m_bytes.size())
            return std::size_t{0};
        const std::size_t n = std::min<std::uint64_t>(count, m_bytes.size() - offset);
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, out);
        return n;
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

} // namespace tolvane
