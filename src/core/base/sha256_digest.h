#pragma once

#include "core/base/failure.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

struct evp_md_ctx_st;

namespace tolvane {

// A SHA-256 digest taken a piece at a time, by libcrypto (which uses the CPU's SHA instructions
// where it has them), so a payload is fingerprinted without being held whole.
class Sha256Digest {
public:
    // Move-only, as the libcrypto context it owns.
    Sha256Digest();

    // libcrypto fails only when it cannot allocate; the first failure is kept and answered by
    // finishHex, so a caller checks once.
    void update(const void* data, std::size_t size);
    // Lower-case hex of everything given so far; the digest starts over afterwards.
    Result<std::string> finishHex();

private:
    void restart();

    struct ContextFree {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> m_context;
    std::optional<Failure> m_failure;
};

} // namespace tolvane
