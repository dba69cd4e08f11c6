#pragma once

#include "cli/cli.h"

#include <string>
#include <vector>

namespace tolvane::test {

// What one in-process run of the command line gave.
struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the command line with short deadlines; stderr counts as no terminal unless asked.
CliRun runTolvaneCli(const std::vector<std::string>& args, bool terminal = false);

// Bytes of one little-endian 32-bit value.
void appendLittleEndian32(std::vector<std::uint8_t>& bytes, std::uint32_t value);

// A 1796-byte PTZ protocol record laid out by hand: number, name, serial settings, baud rate and
// command bytes that differ from record to record.
std::vector<std::uint8_t> handMadeProtocolRecord(std::int32_t number, const std::string& name);
// A .pdb file: "PD", version 1, record size 1796, count, then the records.
std::vector<std::uint8_t> handMadeDatabase(const std::vector<std::vector<std::uint8_t>>& records);

// Sum of the little-endian 32-bit words of the bytes (size a multiple of 4), modulo 2^32.
std::uint32_t wordSum(const std::vector<std::uint8_t>& bytes);

} // namespace tolvane::test
