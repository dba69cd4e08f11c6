#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tolvane {

// Replaces a file as a whole or not at all: the content goes to a temporary file beside the target
// (mkstemp, same folder so rename stays on one file system), is flushed to disk and then renamed
// over the target. Until commit() succeeds the target is untouched; a failed or abandoned write
// removes the temporary file. A symbolic link as target is followed, so the link itself stays; a
// target that is not a regular file is refused.
class AtomicFile {
public:
    explicit AtomicFile(std::string targetPath);
    ~AtomicFile(); // discards an uncommitted temporary file
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Fails before creating anything when the target exists and may not be written (EACCES), is
    // not a regular file (EISDIR, EINVAL), or is a symbolic link that leads nowhere (ENOENT).
    bool open();
    // Writes all of data or fails; after a failure every further call fails.
    bool write(const void* data, std::size_t size);
    // fsync, rename over the target, fsync the folder (best effort: the rename is done by then).
    bool commit();
    void discard();

    // errno of the first failure (0 when none) and what was being done, e.g.
    // "write /data/a.pdb.Xk3v9Q: File too large".
    int errorNumber() const { return m_errno; }
    const std::string& errorText() const { return m_errorText; }
    // The temporary file's path while one exists.
    const std::string& temporaryPath() const { return m_tempPath; }

private:
    bool fail(const char* what, const std::string& path, int err);
    bool refuse(std::string text, int err); // before anything was created

    std::string m_target;
    std::string m_tempPath;
    int m_file = -1;
    bool m_failed = false;
    int m_errno = 0;
    std::string m_errorText;
};

// One-call form of AtomicFile. On failure, *error (when given) receives the error text.
bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         std::string* error = nullptr);

} // namespace tolvane
