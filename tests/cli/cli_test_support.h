#pragma once

#include "cli/cli.h"
#include "sim/simulator.h"
#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
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

} // namespace tolvane::test

// What the command-line tests share beyond the runs themselves: names, and the downloads against
// in-process simulators on 127.0.0.1 with the bytes checked as the simulator received them.
namespace tolvane::cli_test {

using ::testing::HasSubstr;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;
using Args = std::vector<std::string>;

// The type codes of the transfers, written out by hand.
inline constexpr std::uint32_t IntegratedCode = 0x55AB0001;
inline constexpr std::uint32_t ApplicationCode = 0x55AB0003;
inline constexpr std::uint32_t MacCode = 0x55AB0005;
inline constexpr std::uint32_t SerialCode = 0x55AB0006;
inline constexpr std::uint32_t MacSerialCode = 0x55AB0007;
inline constexpr std::uint32_t PtzCode = 0x55AB0008;
inline constexpr std::uint32_t VersionCode = 0x55AB0009;

// A started simulator on 127.0.0.1 at a port the system picks; one that cannot start fails the
// test.
std::unique_ptr<sim::Simulator> startSimulator(sim::Fault fault = sim::Fault::None,
                                               std::optional<std::int32_t> minimumVersion = {});

// The transfers a simulator saw once `count` connections have ended.
std::vector<sim::ReceivedTransfer> received(const sim::Simulator& simulator, std::size_t count);

// The connections finish on the simulator's threads; give a refused unit's peer time to show
// nothing arrived by waiting for a transfer that cannot come, bounded by a short time-out.
void expectNothingReceived(const sim::Simulator& simulator);

// The payload of the one transfer of that type; the simulator lists connections as they end, and
// a version check may end after the image that follows it.
Bytes payloadOfType(const std::vector<sim::ReceivedTransfer>& transfers, std::uint32_t typeCode);

Bytes bytesOf(std::initializer_list<int> values);

class CliDownload : public ::testing::Test {
protected:
    test::TempDir m_dir;
};

} // namespace tolvane::cli_test
