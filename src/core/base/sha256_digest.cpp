#include "core/base/sha256_digest.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace tolvane {

void Sha256Digest::ContextFree::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

// libcrypto failing here means it cannot allocate, which is no fault of the input.
Sha256Digest::Sha256Digest() : m_context(EVP_MD_CTX_new())
{
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

Sha256Digest::~Sha256Digest() = default;

void Sha256Digest::update(const void* data, std::size_t size)
{
    if (size > 0 && EVP_DigestUpdate(m_context.get(), data, size) != 1)
        throw std::runtime_error("SHA-256 update failed");
}

std::string Sha256Digest::finishHex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1 ||
        EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
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

} // namespace tolvane
