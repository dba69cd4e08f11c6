#include "record/row_origin.h"

#include "tolvane_version.h"

#include <filesystem>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace tolvane::record {

namespace {

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "unknown";
    return name;
}

// The name the operator logged in with; under sudo or su still theirs, where the system knows it.
std::string loginName()
{
    char name[256] = {};
    if (::getlogin_r(name, sizeof name) == 0 && name[0] != '\0')
        return name;
    // Without a controlling terminal: the user the program runs as.
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return "uid " + std::to_string(::geteuid());
}

} // namespace

void stampOrigin(RecordEntry& row)
{
    if (!row.bench)
        row.bench = hostName();
    row.operatorName = loginName();
    row.toolVersion = TOLVANE_VERSION;
}

std::string absoluteFilePath(const std::string& path)
{
    const std::filesystem::path given(path);
    if (path.empty() || given.is_absolute())
        return path;
    std::error_code error;
    const auto folder = std::filesystem::current_path(error);
    if (error)
        return path;
    // The working folder is a real path, so ".." in the name goes up from it as the system does.
    return (folder / given).lexically_normal().string();
}

} // namespace tolvane::record
