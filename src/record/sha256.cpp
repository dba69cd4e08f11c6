#include "record/sha256.h"

#include "core/base/regular_file.h"
#include "core/base/sha256_digest.h"

#include <memory>

namespace tolvane::record {

Result<std::string> sha256Hex(std::string_view text)
{
    Sha256Digest digest;
    digest.update(text.data(), text.size());
    return digest.finishHex();
}

Result<std::string> sha256OfFile(const std::string& path)
{
    RegularFile file;
    if (auto opened = file.open(path); !opened)
        return opened.failure();
    Sha256Digest digest;
    // Large blocks: the hash runs at gigabytes a second, so small reads would dominate.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[1 << 20]);
    for (;;) {
        const auto got = file.read(block.get(), 1 << 20);
        if (!got)
            return got.failure();
        if (*got == 0)
            return digest.finishHex();
        digest.update(block.get(), *got);
    }
}

} // namespace tolvane::record
