#pragma once

#include "core/base/failure.h"
#include "core/base/temporary_file.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tolvane {

// Replaces a file as a whole or not at all. The content goes to a TemporaryFile beside the target
// (same folder, so the rename stays on one file system), is flushed to disk, then named under a
// hidden temporary name and renamed over the target at once. Until commit() succeeds the target is
// untouched. A symbolic link as target is followed, so the link itself stays; a target that is not
// a regular file is refused.
class AtomicFile {
public:
    using Temporary = TemporaryFile::Kind;

    explicit AtomicFile(std::string targetPath, Temporary temporary = Temporary::Unnamed);
    ~AtomicFile(); // discards an uncommitted temporary file
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Fails before creating anything when the target exists and may not be written (EACCES), is
    // not a regular file (EISDIR, EINVAL), or is a symbolic link that leads nowhere (ENOENT).
    // A failure says what was being done to which target, e.g. "write /data/a.pdb: File too
    // large"; after one every further call fails with it.
    Result<void> open();
    // Writes all of data or fails.
    Result<void> write(const void* data, std::size_t size);
    // fsync, name the file, rename it over the target, fsync the folder (best effort: the rename
    // is done by then).
    Result<void> commit();
    void discard();

private:
    Result<void> fail(const char* what, const Failure& cause);
    Result<void> refuse(std::string text, int err); // before anything was created
    Result<void> ready() const;

    std::string m_target;
    Temporary m_temporary;
    std::optional<TemporaryFile> m_file;
    std::optional<Failure> m_failure;
};

// One-call form of AtomicFile.
Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

} // namespace tolvane
