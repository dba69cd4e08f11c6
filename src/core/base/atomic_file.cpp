#include "core/base/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tolvane {

namespace {

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

Result<void> AtomicFile::fail(const char* what, const Failure& cause)
{
    if (!m_failure)
        m_failure = Failure{cause.error, std::string(what) + " " + m_target};
    discard();
    errno = cause.error; // callers that only look at errno still see the cause, not the cleanup's
    return *m_failure;
}

Result<void> AtomicFile::refuse(std::string text, int err)
{
    // The text says it all; errno tells callers that look only at it.
    m_failure = Failure{0, std::move(text)};
    errno = err;
    return *m_failure;
}

Result<void> AtomicFile::ready() const
{
    if (m_failure)
        return *m_failure;
    if (!m_file)
        return Failure{EBADF, "no temporary file for " + m_target};
    return {};
}

Result<void> AtomicFile::open()
{
    if (m_failure)
        return *m_failure;
    if (m_file)
        return Failure{EBUSY, "open " + m_target + " again"};
    if (m_target.empty())
        return refuse(std::string("open (empty path): ") + systemErrorText(ENOENT), ENOENT);
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
        return fail("open", Failure{errno, {}});

    // Hidden, so a file dialog open at the same time does not offer it.
    auto created =
        TemporaryFile::create(folderOf(m_target), "." + baseNameOf(m_target) + ".", m_temporary);
    if (!created)
        return fail("create", created.failure());
    m_file.emplace(std::move(created).value());

    // The result should look like any other file the user saves (not the temporary file's 0600),
    // and replacing a file should keep its permissions.
    struct stat st {};
    mode_t mode = permissionsForNewFile(0666);
    if (::stat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    if (auto set = m_file->setMode(mode); !set)
        return fail("set permissions for", set.failure());
    return {};
}

Result<void> AtomicFile::write(const void* data, std::size_t size)
{
    if (auto usable = ready(); !usable)
        return usable;
    if (auto written = m_file->write(data, size); !written)
        return fail("write", written.failure());
    return {};
}

Result<void> AtomicFile::commit()
{
    if (auto usable = ready(); !usable)
        return usable;
    if (auto synced = m_file->sync(); !synced)
        return fail("flush", synced.failure());
    // An unnamed file is named only now and the rename follows at once, so a process killed before
    // this point leaves nothing behind.
    if (auto named = m_file->giveName(folderOf(m_target) + "/." + baseNameOf(m_target)); !named)
        return fail("name the new content of", named.failure());
    if (auto closed = m_file->close(); !closed)
        return fail("close", closed.failure());
    if (auto placed = m_file->placeOver(m_target); !placed)
        return fail("replace", placed.failure());
    m_file.reset();
    // The rename lives in the folder: without this a crash may bring back the old file.
    syncFolder(folderOf(m_target));
    return {};
}

void AtomicFile::discard()
{
    m_file.reset();
}

Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes)
{
    AtomicFile file(path);
    if (auto opened = file.open(); !opened)
        return opened;
    if (auto written = file.write(bytes.data(), bytes.size()); !written)
        return written;
    return file.commit();
}

} // namespace tolvane
