#pragma once

#include "core/base/failure.h"
#include "core/ptz/ptz_protocol.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane::test {

using ByteVector = std::vector<std::uint8_t>;

// Plain stdio, independent of the code under test.
ByteVector readBytes(const std::string& path);
void writeBytes(const std::string& path, const ByteVector& bytes);

// 1796 bytes where every byte differs from its neighbours and from other seeds' records, the
// number field set to number (little-endian).
ByteVector patternedRecordBytes(std::int32_t number, std::uint8_t seed);
PtzProtocol patternedRecord(std::int32_t number, std::uint8_t seed);

void putLe32(ByteVector& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t getLe32(const ByteVector& bytes, std::size_t offset);

// A test with a folder of its own and the path of one file in it, not made yet. Each file name
// gives a fixture of its own.
template <const char* FileName> class FileInFolder : public ::testing::Test {
protected:
    TempDir m_dir;
    std::string m_path = m_dir.file(FileName);
};

// The largest single operator new request since the last reset (this test program counts them).
void resetLargestAllocation();
std::size_t largestAllocation();

// What a load or save ran into; empty after success.
inline std::string failureText(const Result<void>& done)
{
    return done ? std::string() : done.failure().text();
}

} // namespace tolvane::test
