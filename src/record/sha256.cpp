#include "record/sha256.h"

#include "core/base/regular_file.h"

#include <openssl/evp.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace tolvane::record {

namespace {

// One running digest; libcrypto failing here means it cannot allocate, which is not an input
// error.
class Digest {
public:
    Digest() : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free)
    {
        if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 is not available");
    }

    void update(const void* data, std::size_t size)
    {
        if (EVP_DigestUpdate(m_context.get(), data, size) != 1)
            throw std::runtime_error("SHA-256 update failed");
    }

    std::string hex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1)
            throw std::runtime_error("SHA-256 final failed");
        static constexpr char Digits[] = "0123456789abcdef";
        std::string text;
        text.reserve(2 * length);
        for (unsigned int i = 0; i < length; ++i) {
            text.push_back(Digits[digest[i] >> 4]);
            text.push_back(Digits[digest[i] & 0x0F]);
        }
        return text;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> m_context;
};

} // namespace

std::string sha256Hex(std::string_view text)
{
    Digest digest;
    digest.update(text.data(), text.size());
    return digest.hex();
}

std::optional<std::string> sha256OfFile(const std::string& path, std::string* error)
{
    RegularFile file;
    if (!file.open(path, error))
        return std::nullopt;
    Digest digest;
    // Large blocks: the hash runs at gigabytes a second, so small reads would dominate.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[1 << 20]);
    for (;;) {
        const long long got = file.read(block.get(), 1 << 20);
        if (got < 0) {
            if (error)
                *error = file.errorText();
            return std::nullopt;
        }
        if (got == 0)
            return digest.hex();
        digest.update(block.get(), static_cast<std::size_t>(got));
    }
}

} // namespace tolvane::record
