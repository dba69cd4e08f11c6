#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace tolvane {

// A SHA-256 digest taken a piece at a time, by libcrypto (which uses the CPU's SHA instructions
// where it has them), so a payload is fingerprinted without being held whole.
class Sha256Digest {
public:
    Sha256Digest(); // throws std::runtime_error when libcrypto has no SHA-256
    ~Sha256Digest();
    Sha256Digest(const Sha256Digest&) = delete;
    Sha256Digest& operator=(const Sha256Digest&) = delete;

    void update(const void* data, std::size_t size);
    // Lower-case hex of everything given so far; the digest starts over afterwards.
    std::string finishHex();

private:
    struct ContextFree {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> m_context;
};

} // namespace tolvane
