#include "ptz/ptz_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <grp.h>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::atomic<std::size_t> g_largestAllocation{0};
}

// Counts request sizes so a test can tell that a damaged header caused no huge allocation, even
// one that the allocator would refuse or the kernel would overcommit.
void* operator new(std::size_t size)
{
    std::size_t seen = g_largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !g_largestAllocation.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace tolvane::test {

void resetLargestAllocation()
{
    g_largestAllocation = 0;
}

std::size_t largestAllocation()
{
    return g_largestAllocation;
}

ByteVector readBytes(const std::string& path)
{
    ByteVector bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    std::uint8_t buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
}

void writeBytes(const std::string& path, const ByteVector& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    if (!bytes.empty()) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    std::fclose(file);
}

void putLe32(ByteVector& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getLe32(const ByteVector& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | bytes[offset + i];
    return value;
}

ByteVector patternedRecordBytes(std::int32_t number, std::uint8_t seed)
{
    ByteVector bytes(PtzProtocol::Size);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed * 31 + (i >> 8));
    putLe32(bytes, 0, static_cast<std::uint32_t>(number));
    return bytes;
}

PtzProtocol patternedRecord(std::int32_t number, std::uint8_t seed)
{
    return PtzProtocol::fromBytes(patternedRecordBytes(number, seed).data());
}

} // namespace tolvane::test
