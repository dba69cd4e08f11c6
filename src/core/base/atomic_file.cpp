#include "core/base/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tolvane {

namespace {

// The process's umask without changing it (umask() can only be read by setting it, which races with
// other threads). Linux shows it in /proc/self/status; elsewhere assume the common 022.
mode_t currentUmask()
{
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value & 0777);
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}

// A link as target is replaced at the file it points to, not turned into a plain file. Empty for
// a link that leads nowhere: saving there would create a file the operator never named.
std::string resolveTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved))
        return resolved;
    return {};
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

AtomicFile::AtomicFile(std::string targetPath, Temporary temporary)
    : m_target(std::move(targetPath)), m_temporary(temporary)
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::fail(const char* what, int err)
{
    if (!m_failed) {
        m_failed = true;
        m_errno = err;
        m_errorText = std::string(what) + " " + m_target + ": " + std::strerror(err);
    }
    discard();
    errno = err; // callers that only look at errno still see the cause, not the cleanup's
    return false;
}

bool AtomicFile::refuse(std::string text, int err)
{
    m_failed = true;
    m_errno = err;
    m_errorText = std::move(text);
    errno = err;
    return false;
}

bool AtomicFile::open()
{
    if (m_failed || m_file >= 0)
        return false;
    if (m_target.empty())
        return refuse(std::string("open (empty path): ") + std::strerror(ENOENT), ENOENT);
    const std::string named = m_target;
    m_target = resolveTarget(named);
    if (m_target.empty())
        return refuse(named + " is a symbolic link that leads to no file", ENOENT);
    // Renaming over a FIFO, a device or a folder would destroy it rather than save into it.
    struct stat existing {};
    if (::stat(m_target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode))
        return refuse(m_target + " is not a regular file",
                      S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
    // rename() needs only the folder to be writable, so it would replace a file the operator made
    // read-only; refuse as writing into that file would.
    if (::access(m_target.c_str(), W_OK) != 0 && errno != ENOENT)
        return fail("open", errno);

    const std::string folder = folderOf(m_target);
    if (m_temporary == Temporary::Unnamed) {
        m_file = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        // EOPNOTSUPP: the file system has no unnamed files; EISDIR, EINVAL: the kernel does not
        // know O_TMPFILE.
        if (m_file < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return fail("create", errno);
    }
    if (m_file < 0 && !createNamed(folder))
        return false;

    // The result should look like any other file the user saves (not mkstemp's 0600), and
    // replacing a file should keep its permissions.
    struct stat st {};
    mode_t mode = 0666 & ~currentUmask();
    if (::stat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    if (::fchmod(m_file, mode) != 0)
        return fail("set permissions for", errno);
    return true;
}

bool AtomicFile::createNamed(const std::string& folder)
{
    // Hidden, so a file dialog open at the same time does not offer it.
    std::string pattern = folder + "/." + baseNameOf(m_target) + ".XXXXXX";
    const int file = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (file < 0)
        return fail("create", errno);
    m_file = file;
    m_tempPath = pattern;
    return true;
}

bool AtomicFile::nameUnnamedFile(const std::string& folder)
{
    // linkat() gives a name only where none is taken; a clash (another save, or anything
    // planted there) just means trying the next name.
    static std::atomic<unsigned> counter{0};
    const std::string self = "/proc/self/fd/" + std::to_string(m_file);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%x-%x", static_cast<unsigned>(::getpid()),
                      counter.fetch_add(1));
        std::string name = folder + "/." + baseNameOf(m_target) + suffix;
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_tempPath = std::move(name);
            return true;
        }
        if (errno != EEXIST)
            return fail("name the new content of", errno);
    }
    return fail("name the new content of", EEXIST);
}

bool AtomicFile::write(const void* data, std::size_t size)
{
    if (m_failed || m_file < 0)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::write(m_file, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail("write", errno);
        }
        if (written == 0)
            return fail("write", EIO);
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool AtomicFile::commit()
{
    if (m_failed || m_file < 0)
        return false;
    if (::fsync(m_file) != 0)
        return fail("flush", errno);
    // The name comes only now and the rename follows at once, so a process killed before this
    // point leaves nothing behind.
    if (m_tempPath.empty() && !nameUnnamedFile(folderOf(m_target)))
        return false;
    const int file = std::exchange(m_file, -1);
    if (::close(file) != 0)
        return fail("close", errno);
    if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0)
        return fail("replace", errno);
    m_tempPath.clear();

    // The rename lives in the folder: without this a crash may bring back the old file. The new
    // content is in place by now, so this is best effort: some file systems cannot sync a folder.
    const std::string folder = folderOf(m_target);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void AtomicFile::discard()
{
    // An unnamed file goes with its descriptor.
    if (m_file >= 0)
        ::close(std::exchange(m_file, -1));
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error)
{
    AtomicFile file(path);
    const bool ok = file.open() && file.write(bytes.data(), bytes.size()) && file.commit();
    if (!ok && error)
        *error = file.errorText();
    return ok;
}

} // namespace tolvane
