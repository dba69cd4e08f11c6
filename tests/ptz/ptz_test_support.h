#pragma once

#include "ptz/ptz_protocol.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane::test {

using ByteVector = std::vector<std::uint8_t>;

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // Names in the folder, "." and ".." left out, hidden files included.
    std::vector<std::string> entries() const;

private:
    std::string m_path;
};

// Plain stdio, independent of the code under test.
ByteVector readBytes(const std::string& path);
void writeBytes(const std::string& path, const ByteVector& bytes);

// 1796 bytes where every byte differs from its neighbours and from other seeds' records, the
// number field set to number (little-endian).
ByteVector patternedRecordBytes(std::int32_t number, std::uint8_t seed);
PtzProtocol patternedRecord(std::int32_t number, std::uint8_t seed);

void putLe32(ByteVector& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t getLe32(const ByteVector& bytes, std::size_t offset);

// Runs body in a forked child whose files may not grow past limit bytes (with SIGXFSZ ignored, so
// a write beyond it fails with EFBIG instead of killing the child). Returns body's result, or -1
// when the child did not exit normally.
int runWithFileSizeLimit(std::size_t limit, const std::function<int()>& body);

// Runs body in a forked child as the unprivileged user 65534 when this process is root (as CI
// is, and root may write any file), else as the current user. Returns body's result, 100 when the
// child could not drop root, or -1 when the child did not exit normally.
int runAsOrdinaryUser(const std::function<int()>& body);
inline constexpr int CouldNotDropRoot = 100;

// The largest single operator new request since the last reset (this test program counts them).
void resetLargestAllocation();
std::size_t largestAllocation();

} // namespace tolvane::test
