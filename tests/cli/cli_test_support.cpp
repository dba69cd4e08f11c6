#include "cli/cli_test_support.h"

#include "support/deadlines.h"
#include "support/loopback_simulator.h"

#include <sstream>

namespace tolvane::test {

CliRun runTolvaneCli(const std::vector<std::string>& args, bool terminal)
{
    cli::CliSettings settings;
    settings.deadlines = simulatorDeadlines();
    settings.terminal = terminal;
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    run.status = cli::runCli(args, out, err, settings);
    run.out = out.str();
    run.err = err.str();
    return run;
}

void appendLittleEndian32(std::vector<std::uint8_t>& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::vector<std::uint8_t> handMadeProtocolRecord(std::int32_t number, const std::string& name)
{
    std::vector<std::uint8_t> record;
    appendLittleEndian32(record, static_cast<std::uint32_t>(number));
    std::string field = name.substr(0, 23);
    field.resize(24, '\0');
    record.insert(record.end(), field.begin(), field.end());
    record.push_back(3); // parity EVEN
    record.push_back(3); // 8 data bits
    record.push_back(0); // 1 stop bit
    record.push_back(0); // reserved
    appendLittleEndian32(record, 9600);
    for (int i = 0; i < 40 * 44; ++i)
        record.push_back(static_cast<std::uint8_t>((i * 7 + number * 13) & 0xFF));
    return record;
}

std::vector<std::uint8_t> handMadeDatabase(const std::vector<std::vector<std::uint8_t>>& records)
{
    std::vector<std::uint8_t> bytes = {'P', 'D', 0x01, 0x00, 0x04, 0x07, 0x00, 0x00};
    appendLittleEndian32(bytes, static_cast<std::uint32_t>(records.size()));
    for (const auto& record : records)
        bytes.insert(bytes.end(), record.begin(), record.end());
    return bytes;
}

} // namespace tolvane::test

namespace tolvane::cli_test {

std::unique_ptr<sim::Simulator> startSimulator(sim::Fault fault,
                                               std::optional<std::int32_t> minimumVersion)
{
    sim::SimulatorOptions options = test::loopbackOptions(fault);
    options.minimumVersion = minimumVersion;
    auto simulator = std::make_unique<sim::Simulator>(options);
    EXPECT_TRUE(test::startSimulator(*simulator));
    return simulator;
}

std::vector<sim::ReceivedTransfer> received(const sim::Simulator& simulator, std::size_t count)
{
    EXPECT_TRUE(simulator.waitForTransfers(count, std::chrono::seconds(10)));
    return simulator.transfers();
}

void expectNothingReceived(const sim::Simulator& simulator)
{
    EXPECT_FALSE(simulator.waitForTransfers(1, std::chrono::milliseconds(200)));
}

Bytes payloadOfType(const std::vector<sim::ReceivedTransfer>& transfers, std::uint32_t typeCode)
{
    const sim::ReceivedTransfer* found = nullptr;
    for (const auto& transfer : transfers) {
        if (transfer.typeCode == typeCode) {
            EXPECT_EQ(found, nullptr) << "two transfers of type " << std::hex << typeCode;
            found = &transfer;
        }
    }
    EXPECT_NE(found, nullptr) << "no transfer of type " << std::hex << typeCode;
    return found ? found->payload : Bytes{};
}

Bytes bytesOf(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

} // namespace tolvane::cli_test
