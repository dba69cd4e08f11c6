#include "core/base/sha256_digest.h"

#include <openssl/evp.h>

#include <cerrno>

namespace tolvane {

void Sha256Digest::ContextFree::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

Sha256Digest::Sha256Digest() : m_context(EVP_MD_CTX_new())
{
    if (!m_context)
        m_failure = Failure{ENOMEM, "SHA-256 is not available"};
    else
        restart();
}

void Sha256Digest::restart()
{
    if (EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
        m_failure = Failure{0, "SHA-256 is not available"};
}

void Sha256Digest::update(const void* data, std::size_t size)
{
    if (!m_failure && size > 0 && EVP_DigestUpdate(m_context.get(), data, size) != 1)
        m_failure = Failure{0, "SHA-256 update failed"};
}

Result<std::string> Sha256Digest::finishHex()
{
    if (m_failure)
        return *m_failure;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1)
        return Failure{0, "SHA-256 final failed"};
    restart();
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
