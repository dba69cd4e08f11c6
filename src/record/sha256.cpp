#include "record/sha256.h"

#include "core/base/regular_file.h"
#include "core/base/sha256_digest.h"

#include <memory>

namespace tolvane::record {

std::string sha256Hex(std::string_view text)
{
    Sha256Digest digest;
    digest.update(text.data(), text.size());
    return digest.finishHex();
}

std::optional<std::string> sha256OfFile(const std::string& path, std::string* error)
{
    RegularFile file;
    if (!file.open(path, error))
        return std::nullopt;
    Sha256Digest digest;
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
            return digest.finishHex();
        digest.update(block.get(), static_cast<std::size_t>(got));
    }
}

} // namespace tolvane::record
