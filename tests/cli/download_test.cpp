// Downloads end to end: the command line against in-process simulators on 127.0.0.1, with the
// bytes checked as the simulator received them.
#include "cli/cli_test_support.h"
#include "sim/simulator.h"
#include "support/firmware_image.h"
#include "support/temp_dir.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <fcntl.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tolvane {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;
using Args = std::vector<std::string>;

constexpr std::uint32_t IntegratedCode = 0x55AB0001;
constexpr std::uint32_t ApplicationCode = 0x55AB0003;
constexpr std::uint32_t MacCode = 0x55AB0005;
constexpr std::uint32_t SerialCode = 0x55AB0006;
constexpr std::uint32_t MacSerialCode = 0x55AB0007;
constexpr std::uint32_t PtzCode = 0x55AB0008;
constexpr std::uint32_t VersionCode = 0x55AB0009;

std::unique_ptr<sim::Simulator> startSimulator(sim::Fault fault = sim::Fault::None,
                                               std::optional<std::int32_t> minimumVersion = {})
{
    sim::SimulatorOptions options;
    options.host = "127.0.0.1";
    options.port = 0;
    options.fault = fault;
    options.minimumVersion = minimumVersion;
    auto simulator = std::make_unique<sim::Simulator>(options);
    std::string error;
    EXPECT_TRUE(simulator->start(&error)) << error;
    return simulator;
}

// The transfers a simulator saw once `count` connections have ended.
std::vector<sim::ReceivedTransfer> received(const sim::Simulator& simulator, std::size_t count)
{
    EXPECT_TRUE(simulator.waitForTransfers(count, std::chrono::seconds(10)));
    return simulator.transfers();
}

// The connections finish on the simulator's threads; give a refused unit's peer time to show
// nothing arrived by waiting for a transfer that cannot come, bounded by a short time-out.
void expectNothingReceived(const sim::Simulator& simulator)
{
    EXPECT_FALSE(simulator.waitForTransfers(1, std::chrono::milliseconds(200)));
}

// The payload of the one transfer of that type; the simulator lists connections as they end, and
// a version check may end after the image that follows it.
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

class CliDownload : public ::testing::Test {
protected:
    test::TempDir m_dir;
};

TEST_F(CliDownload, ApplicationImageSendsAnnouncedVersionThenTheFileUnchanged)
{
    const std::string image = m_dir.file("app.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.7.2")
        .writeTo(image);
    auto simulator = startSimulator();
    const auto run = test::runTolvaneCli(
        {"download", "app", image, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const auto transfers = received(*simulator, 2);
    ASSERT_EQ(transfers.size(), 2u);
    // 3.7.2 is announced as 3.5.2: 0x03050200, least significant byte first.
    EXPECT_EQ(payloadOfType(transfers, VersionCode), bytesOf({0x00, 0x02, 0x05, 0x03}));
    EXPECT_EQ(payloadOfType(transfers, ApplicationCode), test::readFileBytes(image));
}

TEST_F(CliDownload, RefusedVersionStopsBeforeTheImageAndFails)
{
    const std::string image = m_dir.file("app.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.4.0")
        .writeTo(image);
    auto simulator = startSimulator(sim::Fault::None, 0x03050000);
    const auto run = test::runTolvaneCli(
        {"download", "app", image, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("The firmware is Incompatible with the DVR.\n"));
    const auto transfers = received(*simulator, 1);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, VersionCode);
}

TEST_F(CliDownload, DecoderDiagnosticsGoToStderrWithTheMessageAndNothingIsSent)
{
    const std::string image = m_dir.file("app.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.5.1")
        .corruptCrc()
        .writeTo(image);
    auto simulator = startSimulator();
    const auto run = test::runTolvaneCli(
        {"download", "app", image, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("invalid compressed data--crc error\n"));
    EXPECT_THAT(run.err, HasSubstr("There is not image file.\n"));
    expectNothingReceived(*simulator);
}

TEST_F(CliDownload, IntegratedImageCarriesIdentityAndPrintsNextMac)
{
    const std::string image = m_dir.file("full.img");
    test::FirmwareImageBuilder().version("3.5.1").writeTo(image);
    const Bytes original = test::readFileBytes(image);
    auto simulator = startSimulator();
    const auto run = test::runTolvaneCli({"download", "integrated", image, "--target",
                                          simulator->address(), "--mac", "0012ab34cd56", "--serial",
                                          "1", "--auto-increase", "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0012AB34CD57\n");
    const auto transfers = received(*simulator, 2);
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(payloadOfType(transfers, VersionCode), bytesOf({0x00, 0x01, 0x05, 0x03}));
    Bytes expected = original;
    const Bytes identity = bytesOf({0xAB, 0x12, 0x00, 0x00, 0x56, 0xCD, 0x34, 0x00, 0, 0, 0, 1});
    std::copy(identity.begin(), identity.end(), expected.begin() + 0xFF80);
    EXPECT_EQ(payloadOfType(transfers, IntegratedCode), expected);
    EXPECT_EQ(test::readFileBytes(image), original) << "the chosen file is never changed";
}

TEST_F(CliDownload, FailedImageTransferFailsButStillAdvancesTheIntegratedMac)
{
    const std::string image = m_dir.file("full.img");
    test::FirmwareImageBuilder().version("3.5.1").writeTo(image);
    // The compatibility check is acknowledged once, so only the image meets the second ack.
    auto simulator = startSimulator(sim::Fault::CloseAfterFirstAck);
    const auto run =
        test::runTolvaneCli({"download", "integrated", image, "--target", simulator->address(),
                             "--mac", "0012AB34CD56", "--auto-increase", "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "0012AB34CD57\n") << "the version check passed, as the desktop rule has it";
    EXPECT_THAT(run.err, HasSubstr("Can't write a firmware.\n"));
}

TEST_F(CliDownload, PtzImageIsSentByteForByte)
{
    // A new image written by hand: checksum 24 3F 00 00, then 36 empty slots.
    Bytes file = bytesOf({0x24, 0x3F, 0x00, 0x00});
    file.resize(64660, 0xFF);
    const std::string path = m_dir.file("ptz.bin");
    test::writeFileBytes(path, file);
    auto simulator = startSimulator();
    const auto run =
        test::runTolvaneCli({"download", "ptz", path, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto transfers = received(*simulator, 1);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, PtzCode);
    EXPECT_EQ(transfers[0].payload, file);
}

TEST_F(CliDownload, InvalidPtzImageIsRefusedWithoutConnecting)
{
    Bytes file(64660, 0xFF); // word sum not 0
    const std::string path = m_dir.file("bad.bin");
    test::writeFileBytes(path, file);
    auto simulator = startSimulator();
    const auto run =
        test::runTolvaneCli({"download", "ptz", path, "--target", simulator->address(), "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "This PTZ image file is invalid. \n");
    expectNothingReceived(*simulator);
}

struct DataCase {
    const char* name;
    Args options;
    std::uint32_t typeCode;
    Bytes payload;
    const char* nextMac; // printed with --auto-increase, "" for none
};

class CliDataDownload : public ::testing::TestWithParam<DataCase> {};

TEST_P(CliDataDownload, PicksTheVariantFromTheOptionsGiven)
{
    const DataCase& c = GetParam();
    auto simulator = startSimulator();
    Args args = {"download", "data", "--target", simulator->address(), "--quiet"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.nextMac);
    const auto transfers = received(*simulator, 1);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].typeCode, c.typeCode);
    EXPECT_EQ(transfers[0].payload, c.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, CliDataDownload,
    ::testing::Values(
        DataCase{"MacAndSerial",
                 {"--mac", "0012AB34CD56", "--serial", "1"},
                 MacSerialCode,
                 bytesOf({0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD, 0x56, 0x01, 0x00, 0x00, 0x00}),
                 ""},
        DataCase{"MacOnlyAdvancing",
                 {"--mac", "0012ab34cd56", "--auto-increase"},
                 MacCode,
                 bytesOf({0x00, 0x00, 0x12, 0xAB, 0x00, 0x34, 0xCD, 0x56}),
                 "0012AB34CD57\n"},
        DataCase{"CarryIntoUpperHalf",
                 {"--mac", "000000FFFFFF", "--serial", "7", "--auto-increase"},
                 MacSerialCode,
                 bytesOf({0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00}),
                 "000001000000\n"},
        DataCase{"SerialOnly",
                 {"--serial", "305419896"},
                 SerialCode,
                 bytesOf({0x78, 0x56, 0x34, 0x12}),
                 ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CliDownload, FailedDataTransferFailsAndGivesNoNextMacForOneUnit)
{
    auto simulator = startSimulator(sim::Fault::Refuse);
    const auto run = test::runTolvaneCli({"download", "data", "--target", simulator->address(),
                                          "--mac", "0012AB34CD56", "--auto-increase", "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("Can't write a firmware.\n"));
}

// A port on 127.0.0.1 that refuses connections for as long as the object lives: the socket is
// bound but never listens, so no other test can be given the port meanwhile.
class RefusingPort {
public:
    RefusingPort()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_GE(m_socket, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        EXPECT_EQ(::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t length = sizeof address;
        EXPECT_EQ(::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
        m_port = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(m_socket); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    int m_socket = -1;
    std::uint16_t m_port = 0;
};

TEST_F(CliDownload, UnreachableRecorderAndMissingImageFail)
{
    const RefusingPort closed;
    const std::string closedAddress = closed.address();
    auto run =
        test::runTolvaneCli({"download", "data", "--target", closedAddress, "--serial", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("Can't connect to the machine.\n"));

    auto simulator = startSimulator();
    run = test::runTolvaneCli(
        {"download", "integrated", m_dir.file("absent.img"), "--target", simulator->address()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "There is not image file.\n");
    expectNothingReceived(*simulator);
}

TEST_F(CliDownload, ProgressIsPlainLinesOffATerminalRedrawnOnOneAndAbsentWhenQuiet)
{
    auto simulator = startSimulator();
    const Args args = {"download", "data", "--target", simulator->address(), "--serial", "1"};
    const auto plain = test::runTolvaneCli(args, false);
    EXPECT_EQ(plain.status, 0);
    EXPECT_THAT(plain.err, HasSubstr("serial number: Downloading...\n"));
    EXPECT_THAT(plain.err, HasSubstr("serial number: 100%\n"));
    EXPECT_THAT(plain.err, Not(HasSubstr("\x1b[")));

    const auto terminal = test::runTolvaneCli(args, true);
    EXPECT_EQ(terminal.status, 0);
    EXPECT_THAT(terminal.err, HasSubstr("\x1b[1A\r\x1b[2K"));
    EXPECT_THAT(terminal.err, HasSubstr("[####################] 100%"));

    Args quiet = args;
    quiet.push_back("--quiet");
    EXPECT_EQ(test::runTolvaneCli(quiet, true).err, "");
    received(*simulator, 3);
}

// The MAC address a MAC-and-serial payload carries, as twelve hex digits.
std::string macOfPayload(const Bytes& payload)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", payload[1], payload[2], payload[3],
                  payload[5], payload[6], payload[7]);
    return text;
}

TEST_F(CliDownload, BatchGivesConsecutiveMacsAndReportsTheOneFailure)
{
    auto first = startSimulator();
    auto broken = startSimulator(sim::Fault::Refuse);
    auto third = startSimulator();
    auto fourth = startSimulator();
    const std::string targets = m_dir.file("targets.txt");
    {
        std::ofstream file(targets);
        file << "# line 3\n" << third->address() << "\n\n" << fourth->address() << "\n";
    }
    const auto run =
        test::runTolvaneCli({"download", "data", "--target", first->address(), "--target",
                             broken->address(), "--targets", targets, "--mac", "0012AB34CDFE",
                             "--serial", "9", "--auto-increase", "--jobs", "3"});
    EXPECT_EQ(run.status, 1);
    // The failed unit keeps its address: the next unit gets the one after all four.
    EXPECT_EQ(run.out, "0012AB34CE02\n");

    std::vector<std::string> macs;
    for (const auto* simulator : {first.get(), broken.get(), third.get(), fourth.get()}) {
        const auto transfers = received(*simulator, 1);
        ASSERT_EQ(transfers.size(), 1u);
        ASSERT_EQ(transfers[0].payload.size(), 12u);
        macs.push_back(macOfPayload(transfers[0].payload));
    }
    EXPECT_EQ(macs, (std::vector<std::string>{"0012AB34CDFE", "0012AB34CDFF", "0012AB34CE00",
                                              "0012AB34CE01"}));
    EXPECT_EQ(std::set<std::string>(macs.begin(), macs.end()).size(), macs.size());

    // Summary rows: target, result, time, MAC, message.
    const QString err = QString::fromStdString(run.err);
    const auto row = [&](const std::string& address, const char* result) {
        return QRegularExpression(QRegularExpression::escape(QString::fromStdString(address)) +
                                  " +" + result + R"( +\d+\.\d\d s +0012AB34)");
    };
    EXPECT_TRUE(err.contains(row(first->address(), "ok"))) << run.err;
    EXPECT_TRUE(err.contains(row(broken->address(), "failed"))) << run.err;
    EXPECT_TRUE(err.contains(row(third->address(), "ok"))) << run.err;
    EXPECT_TRUE(err.contains(row(fourth->address(), "ok"))) << run.err;
    EXPECT_THAT(run.err, HasSubstr(broken->address() + ": Can't write a firmware.\n"));
    EXPECT_THAT(run.err, HasSubstr("3 of 4 units succeeded."));
}

TEST_F(CliDownload, BatchOfImagesAllSucceedingExitsZero)
{
    const std::string image = m_dir.file("app.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.6.0")
        .totalSize(300'000)
        .writeTo(image);
    const Bytes file = test::readFileBytes(image);
    std::vector<std::unique_ptr<sim::Simulator>> simulators;
    Args args = {"download", "app", image, "--jobs", "2", "--quiet"};
    for (int i = 0; i < 3; ++i) {
        simulators.push_back(startSimulator());
        args.insert(args.end(), {"--target", simulators.back()->address()});
    }
    const auto run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    for (const auto& simulator : simulators) {
        const auto transfers = received(*simulator, 2);
        ASSERT_EQ(transfers.size(), 2u);
        EXPECT_EQ(payloadOfType(transfers, ApplicationCode), file);
    }
}

std::vector<QJsonObject> recordLines(const std::string& path)
{
    std::vector<QJsonObject> lines;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        QJsonParseError error{};
        const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        lines.push_back(document.object());
    }
    return lines;
}

TEST_F(CliDownload, RecordRefusesAMacAlreadyWrittenUnlessAllowed)
{
    const std::string record = m_dir.file("production.jsonl");
    auto simulator = startSimulator();
    const Args args = {"download", "data",         "--target", simulator->address(),
                       "--mac",    "0012AB34CD56", "--serial", "5",
                       "--record", record,         "--quiet",  "--auto-increase"};
    auto run = test::runTolvaneCli(args);
    ASSERT_EQ(run.status, 0) << run.err;
    received(*simulator, 1);

    run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("0012AB34CD56"));
    EXPECT_THAT(run.err, HasSubstr("already recorded"));
    EXPECT_FALSE(simulator->waitForTransfers(2, std::chrono::milliseconds(200)));

    // A lower-case MAC is the same address.
    Args lower = args;
    lower[5] = "0012ab34cd56";
    EXPECT_EQ(test::runTolvaneCli(lower).status, 1);

    Args allowed = args;
    allowed.push_back("--allow-reused-mac");
    run = test::runTolvaneCli(allowed);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(received(*simulator, 2).size(), 2u);

    // Each unit that sends the MAC writes a pending line first, then its outcome.
    const auto lines = recordLines(record);
    ASSERT_EQ(lines.size(), 6u);
    const std::vector<QString> results = {"pending", "ok", "refused", "refused", "pending", "ok"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].value("result").toString(), results[i]) << i;
        EXPECT_EQ(lines[i].value("mac").toString(), "0012AB34CD56");
        EXPECT_EQ(lines[i].value("serial").toInt(), 5);
        EXPECT_EQ(lines[i].value("type").toString(), "data");
        EXPECT_TRUE(lines[i].value("file").isNull());
    }
    EXPECT_EQ(lines[0].value("unit"), lines[1].value("unit"));
    EXPECT_EQ(lines[4].value("unit"), lines[5].value("unit"));
    std::set<QString> units;
    for (std::size_t i : {0, 2, 3, 4})
        units.insert(lines[i].value("unit").toString());
    EXPECT_EQ(units.size(), 4u) << "every unit has its own id";
}

// What a run that stopped mid-transfer leaves: the pending line and nothing after it.
const char* const PendingLine =
    R"({"time":"2026-12-08T06:00:00.000Z","target":"127.0.0.1:5000","type":"data","mac":"0012AB34CD56","serial":5,"unit":"3f1c","result":"pending"})";

TEST_F(CliDownload, PendingLineWithoutOutcomeRefusesTheMacUntilTheOutcomeFollows)
{
    const std::string record = m_dir.file("production.jsonl");
    {
        std::ofstream file(record);
        file << PendingLine << "\n";
    }
    auto simulator = startSimulator();
    const Args args = {"download",           "data",  "--target",
                       simulator->address(), "--mac", "0012AB34CD56",
                       "--record",           record,  "--quiet"};
    auto run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("0012AB34CD56 is already recorded"));
    expectNothingReceived(*simulator);

    // The same unit's outcome line, written later, shows the transfer ended without success.
    {
        std::ofstream file(record, std::ios::app);
        file << R"({"mac":"0012AB34CD56","unit":"3f1c","result":"failed"})"
             << "\n";
    }
    run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(received(*simulator, 1).size(), 1u);
}

TEST_F(CliDownload, TwoRunsSharingARecordNeverSendTheSameMacTwice)
{
    const std::string record = m_dir.file("production.jsonl");
    std::vector<std::unique_ptr<sim::Simulator>> simulators;
    simulators.push_back(startSimulator());
    simulators.push_back(startSimulator());
    std::vector<test::CliRun> runs(2);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < 2; ++i) {
            threads.emplace_back([&, i] {
                runs[i] = test::runTolvaneCli({"download", "data", "--target",
                                               simulators[i]->address(), "--mac", "0012AB34CD56",
                                               "--serial", "1", "--record", record, "--quiet"});
            });
        }
    }
    EXPECT_EQ(std::min(runs[0].status, runs[1].status), 0) << runs[0].err << runs[1].err;
    EXPECT_EQ(std::max(runs[0].status, runs[1].status), 1) << runs[0].err << runs[1].err;
    const std::size_t sender = runs[0].status == 0 ? 0 : 1;
    EXPECT_EQ(received(*simulators[sender], 1).size(), 1u);
    expectNothingReceived(*simulators[1 - sender]);
    EXPECT_THAT(runs[1 - sender].err, HasSubstr("already recorded"));

    const auto lines = recordLines(record);
    ASSERT_EQ(lines.size(), 3u);
    std::multiset<QString> results;
    for (const auto& line : lines)
        results.insert(line.value("result").toString());
    EXPECT_EQ(results, (std::multiset<QString>{"pending", "ok", "refused"}));
}

// Whether another descriptor waits for an flock() on the file, as /proc/locks shows it.
bool someoneWaitsForLock(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    std::ifstream locks("/proc/locks");
    const std::string inode = ":" + std::to_string(info.st_ino) + " ";
    for (std::string line; std::getline(locks, line);) {
        if (line.find("-> FLOCK") != std::string::npos && line.find(inode) != std::string::npos)
            return true;
    }
    return false;
}

TEST_F(CliDownload, MacCheckWaitsForAnotherProcessHoldingTheRecordLock)
{
    const std::string record = m_dir.file("production.jsonl");
    auto simulator = startSimulator();
    const int held = ::open(record.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    test::CliRun run;
    std::jthread runner([&] {
        run = test::runTolvaneCli({"download", "data", "--target", simulator->address(), "--mac",
                                   "0012AB34CD56", "--record", record, "--quiet"});
    });
    // Another writer takes the MAC while the run waits for the lock.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!someoneWaitsForLock(record) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_TRUE(someoneWaitsForLock(record)) << "the MAC check does not take the record's lock";
    const std::string line = std::string(PendingLine) + "\n";
    ASSERT_EQ(::write(held, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ::flock(held, LOCK_UN);
    ::close(held);
    runner.join();

    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("already recorded"));
    expectNothingReceived(*simulator);
}

TEST_F(CliDownload, BatchSkipsOnlyTheUnitWhoseMacWasWrittenBefore)
{
    const std::string record = m_dir.file("production.jsonl");
    {
        std::ofstream file(record);
        file << R"({"time":"2026-01-01T00:00:00.000Z","mac":"0012AB34CD57","result":"ok"})"
             << "\n";
    }
    auto first = startSimulator();
    auto second = startSimulator();
    const auto run = test::runTolvaneCli({"download", "data", "--target", first->address(),
                                          "--target", second->address(), "--mac", "0012AB34CD56",
                                          "--record", record, "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(second->address() + ": MAC address 0012AB34CD57"));
    EXPECT_EQ(received(*first, 1).size(), 1u);
    expectNothingReceived(*second);
}

TEST_F(CliDownload, RecordLinesHoldEveryField)
{
    const std::string image = m_dir.file("app \"quoted\" \\ name.img");
    test::FirmwareImageBuilder(test::FirmwareImageBuilder::Layout::ApplicationOnly)
        .version("3.7.2")
        .writeTo(image);
    const Bytes file = test::readFileBytes(image);
    QByteArray content;
    for (std::uint8_t byte : file)
        content.append(static_cast<char>(byte));
    const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
    auto good = startSimulator();
    auto refusing = startSimulator(sim::Fault::None, 0x04000000);
    const std::string record = m_dir.file("production.jsonl");
    const auto run =
        test::runTolvaneCli({"download", "app", image, "--target", good->address(), "--target",
                             refusing->address(), "--record", record, "--quiet"});
    EXPECT_EQ(run.status, 1);

    const auto lines = recordLines(record);
    ASSERT_EQ(lines.size(), 2u);
    std::map<QString, QJsonObject> byTarget;
    for (const auto& line : lines)
        byTarget[line.value("target").toString()] = line;
    const QJsonObject ok = byTarget[QString::fromStdString(good->address())];
    const QJsonObject failed = byTarget[QString::fromStdString(refusing->address())];
    const QRegularExpression utc(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)");
    for (const auto& line : {ok, failed}) {
        EXPECT_TRUE(utc.match(line.value("time").toString()).hasMatch());
        EXPECT_EQ(line.value("type").toString(), "app");
        EXPECT_EQ(line.value("file").toString().toStdString(), image);
        EXPECT_EQ(line.value("sha256").toString().toLatin1(), digest);
        EXPECT_EQ(line.value("version").toString(), "3.5.2");
        EXPECT_TRUE(line.value("mac").isNull());
        EXPECT_TRUE(line.value("serial").isNull());
        EXPECT_GE(line.value("duration_s").toDouble(-1), 0.0);
    }
    EXPECT_EQ(ok.value("result").toString(), "ok");
    EXPECT_EQ(ok.value("message").toString(), "");
    EXPECT_EQ(failed.value("result").toString(), "failed");
    EXPECT_EQ(failed.value("message").toString(), "The firmware is Incompatible with the DVR.");
}

TEST_F(CliDownload, UnwritableRecordStopsBeforeAnythingIsSent)
{
    auto simulator = startSimulator();
    const auto run =
        test::runTolvaneCli({"download", "data", "--target", simulator->address(), "--serial", "1",
                             "--record", m_dir.file("no-such-folder/record.jsonl")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot open record"));
    expectNothingReceived(*simulator);
}

} // namespace
} // namespace tolvane
