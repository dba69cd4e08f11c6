#include "service/image_file.h"

#include "core/base/regular_file.h"
#include "record/sha256.h"

#include <cerrno>

namespace tolvane::service {

Result<void> checkFileReadable(const std::string& path)
{
    RegularFile file;
    const auto opened = file.open(path);
    if (opened)
        return {};
    Failure failure = opened.failure();
    failure.message =
        failure.error == ENOENT ? MessageId::NoImageFile : MessageId::CannotOpenImageFile;
    return failure;
}

Result<std::string> fileDigest(const std::string& path)
{
    return record::sha256OfFile(path);
}

} // namespace tolvane::service
