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

} // namespace tolvane::test
