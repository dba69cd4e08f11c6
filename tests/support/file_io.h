#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::test {

// Plain stdio, independent of the code under test.
// Writes bytes to a file with plain stdio; throws std::runtime_error on failure.
void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Reads a whole file with plain stdio; throws std::runtime_error on failure.
std::vector<std::uint8_t> readFileBytes(const std::string& path);
// Sets the size of the file, made empty when missing, with ftruncate: growing it leaves a hole, so
// a large file costs no disk where the file system keeps holes. False when the size cannot be set;
// throws std::runtime_error when the file cannot be opened.
bool resizeSparse(const std::string& path, std::uint64_t size);

} // namespace tolvane::test
