#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::cli {

// SHA-256 (FIPS 180-4), enough to fingerprint the files a production record names.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void update(const std::uint8_t* data, std::size_t size);
    void update(std::string_view text);
    Digest finish(); // the object must not be updated afterwards

    static std::string toHex(const Digest& digest);

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_block{};
    std::size_t m_blockUsed = 0;
    std::uint64_t m_totalBytes = 0;
};

std::string sha256Hex(std::string_view text);
// Lower-case hex digest of a file's content; nullopt with *error set when it cannot be read.
std::optional<std::string> sha256OfFile(const std::string& path, std::string* error = nullptr);

} // namespace tolvane::cli
