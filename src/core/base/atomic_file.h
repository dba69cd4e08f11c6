#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tolvane {

// Replaces a file as a whole or not at all. The content goes to a file beside the target (same
// folder, so the rename stays on one file system) that has no name while it is written (O_TMPFILE),
// is flushed to disk, then linked under a hidden temporary name and renamed over the target at
// once. A process killed while writing so leaves nothing behind. Where the file system has no
// unnamed files the temporary file is named from the start (mkstemp) and removed on failure.
// Until commit() succeeds the target is untouched. A symbolic link as target is followed, so the
// link itself stays; a target that is not a regular file is refused.
class AtomicFile {
public:
    enum class Temporary {
        Unnamed, // O_TMPFILE, named only at commit; falls back to Named where unsupported
        Named,   // mkstemp from the start, as where the file system has no unnamed files
    };

    explicit AtomicFile(std::string targetPath, Temporary temporary = Temporary::Unnamed);
    ~AtomicFile(); // discards an uncommitted temporary file
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Fails before creating anything when the target exists and may not be written (EACCES), is
    // not a regular file (EISDIR, EINVAL), or is a symbolic link that leads nowhere (ENOENT).
    bool open();
    // Writes all of data or fails; after a failure every further call fails.
    bool write(const void* data, std::size_t size);
    // fsync, name the file, rename it over the target, fsync the folder (best effort: the rename
    // is done by then).
    bool commit();
    void discard();

    // errno of the first failure (0 when none) and what was being done to which target, e.g.
    // "write /data/a.pdb: File too large".
    int errorNumber() const { return m_errno; }
    const std::string& errorText() const { return m_errorText; }
    // The temporary file's path while it has one: from open() for a named temporary file, only
    // inside commit() for an unnamed one.
    const std::string& temporaryPath() const { return m_tempPath; }

private:
    bool fail(const char* what, int err);
    bool refuse(std::string text, int err); // before anything was created
    bool createNamed(const std::string& folder);
    bool nameUnnamedFile(const std::string& folder);

    std::string m_target;
    Temporary m_temporary;
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
