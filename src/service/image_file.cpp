#include "service/image_file.h"

#include "core/base/regular_file.h"
#include "record/sha256.h"

#include <cerrno>
#include <utility>

namespace tolvane::service {

Result<void> checkFileReadable(const std::string& path)
{
    RegularFile file;
    if (file.open(path))
        return {};
    Failure failure = file.failure();
    failure.message =
        failure.error == ENOENT ? MessageId::NoImageFile : MessageId::CannotOpenImageFile;
    return failure;
}

Result<std::string> fileDigest(const std::string& path)
{
    std::string error;
    if (auto digest = record::sha256OfFile(path, &error))
        return std::move(*digest);
    return Failure(0, error);
}

} // namespace tolvane::service
