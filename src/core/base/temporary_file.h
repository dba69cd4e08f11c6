#pragma once

#include "core/base/failure.h"

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <utility>

namespace tolvane {

// A file of mode 0600 that has no name while it is written (O_TMPFILE), so a process killed
// meanwhile leaves nothing behind. Where the file system has no unnamed files it gets a hidden name
// at once (mkstemp). It is put into place under a name of its own, or removed: on destruction,
// whatever was not placed goes.
class TemporaryFile {
public:
    enum class Kind {
        Unnamed, // O_TMPFILE; falls back to Named where the file system has no unnamed files
        Named,   // mkstemp from the start
    };

    // Creates the file in folder. A named one is called namePrefix + six random characters, so
    // namePrefix should start with '.' to keep the file out of listings.
    static Result<TemporaryFile> create(const std::string& folder, const std::string& namePrefix,
                                        Kind kind = Kind::Unnamed);

    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    ~TemporaryFile();

    int descriptor() const { return m_file; }
    // The file's name while it has one.
    const std::string& path() const { return m_path; }

    // Writes all of data or fails.
    Result<void> write(const void* data, std::size_t size);
    Result<void> sync();
    Result<void> setMode(mode_t mode);
    // Gives an unnamed file the name prefix + a suffix no other file has; a named file keeps its
    // own. Still temporary: it is removed unless placed.
    Result<void> giveName(const std::string& prefix);
    // Closes the descriptor; a named file stays until it is placed or discarded.
    Result<void> close();

    // Puts the file at path where no file has that name yet (EEXIST otherwise). Once placed the
    // file is no longer temporary.
    Result<void> placeAs(const std::string& path);
    // Puts the named file at path at once, replacing what path named.
    Result<void> placeOver(const std::string& path);

    // For a file that is never placed: takes a named file's name away at once, so nothing is left
    // when the descriptor closes, however the process ends.
    void dropName();
    // Hands the descriptor over to the caller, who closes it; call dropName() first.
    int release();
    // Closes and removes the file, unless it was placed.
    void discard();

private:
    TemporaryFile(int file, std::string path) : m_file(file), m_path(std::move(path)) {}
    Result<void> linkUnnamed(const std::string& path);

    int m_file = -1;
    std::string m_path; // empty while the file has no name
};

// The permissions a file created with open(path, O_CREAT, requested) would get under the process's
// umask, which is read without changing it.
mode_t permissionsForNewFile(mode_t requested);

// Makes a rename or link in folder last across a crash; best effort, as some file systems cannot
// sync a folder.
void syncFolder(const std::string& folder);

} // namespace tolvane
