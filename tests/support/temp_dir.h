#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::test {

// A private folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;
    // Names directly inside the folder, "." and ".." left out, hidden files included.
    std::vector<std::string> entries() const;
    std::size_t entryCount() const { return entries().size(); }

private:
    std::string m_path;
};

// Sets (or with nullopt unsets) an environment variable for the lifetime of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

} // namespace tolvane::test
