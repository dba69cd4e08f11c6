#include "cli/cli_test_support.h"

#include "support/simulator_operator.h"

#include <sstream>

namespace tolvane::test {

CliRun runTolvaneCli(const std::vector<std::string>& args, bool terminal)
{
    cli::CliSettings settings;
    settings.deadlines = shortDeadlines();
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

std::uint32_t wordSum(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        sum += std::uint32_t{bytes[i]} | (std::uint32_t{bytes[i + 1]} << 8) |
               (std::uint32_t{bytes[i + 2]} << 16) | (std::uint32_t{bytes[i + 3]} << 24);
    }
    return sum;
}

} // namespace tolvane::test
