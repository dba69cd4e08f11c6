// Batches of units and the production record end to end: the command line against in-process
// simulators on 127.0.0.1, with the record read back through SQLite's own interface and its digest
// checked with Qt's SHA-256.
#include "cli/cli_test_support.h"
#include "support/firmware_image.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <sqlite3.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tolvane {
namespace {

using namespace cli_test;

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
    EXPECT_EQ(run.out, "0012AB34CE02\n13\n");

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

// The record's rows, oldest first, each as an object of its columns (NULL as null).
std::vector<QJsonObject> recordLines(const std::string& path)
{
    std::vector<QJsonObject> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT time, target, type, file, sha256, version, mac, serial, unit, "
                       "result, message, duration_s FROM units ORDER BY id",
                       -1, &query, nullptr);
    while (query && sqlite3_step(query) == SQLITE_ROW) {
        QJsonObject row;
        for (int column = 0; column < sqlite3_column_count(query); ++column) {
            const QString name = QString::fromUtf8(sqlite3_column_name(query, column));
            switch (sqlite3_column_type(query, column)) {
            case SQLITE_NULL: row[name] = QJsonValue::Null; break;
            case SQLITE_INTEGER: row[name] = sqlite3_column_int64(query, column); break;
            case SQLITE_FLOAT: row[name] = sqlite3_column_double(query, column); break;
            default:
                row[name] = QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(query, column)));
            }
        }
        rows.push_back(row);
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return rows;
}

// Moves JSON lines, written as an earlier Tolvane wrote its record, into the record.
void importLines(const std::string& record, const std::string& lines, const std::string& scratch)
{
    {
        std::ofstream file(scratch, std::ios::trunc);
        file << lines;
    }
    const auto run = test::runTolvaneCli({"record", "import", scratch, "--into", record});
    ASSERT_EQ(run.status, 0) << run.err;
}

TEST_F(CliDownload, ImportOfADamagedRecordTakesNothing)
{
    const std::string old = m_dir.file("old.jsonl");
    {
        std::ofstream file(old);
        file << R"({"mac":"0012AB34CD56","result":"ok"})"
                "\n"
             << R"({"mac":"0012AB34CD5","result":"ok"})"
                "\n";
    }
    const std::string record = m_dir.file("production.db");
    const auto run = test::runTolvaneCli({"record", "import", old, "--into", record});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(old + " line 2: a MAC address that is not twelve hex digits"));
    EXPECT_THAT(run.err, HasSubstr("nothing imported"));
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(CliDownload, RecordRefusesAMacAlreadyWrittenUnlessAllowed)
{
    const std::string record = m_dir.file("production.db");
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
    EXPECT_THAT(run.err, HasSubstr("is already used by unit"));
    EXPECT_FALSE(simulator->waitForTransfers(2, std::chrono::milliseconds(200)));

    // A lower-case MAC is the same address.
    Args lower = args;
    lower[5] = "0012ab34cd56";
    EXPECT_EQ(test::runTolvaneCli(lower).status, 1);

    Args allowed = args;
    allowed.push_back("--allow-reused-mac");
    allowed.push_back("--allow-reused-serial");
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
    const std::string record = m_dir.file("production.db");
    importLines(record, std::string(PendingLine) + "\n", m_dir.file("old.jsonl"));
    auto simulator = startSimulator();
    const Args args = {"download",           "data",  "--target",
                       simulator->address(), "--mac", "0012AB34CD56",
                       "--record",           record,  "--quiet"};
    auto run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("0012AB34CD56 is already used by unit 3f1c"));
    expectNothingReceived(*simulator);

    // The same unit's outcome, written later, shows the transfer ended without success.
    importLines(record,
                R"({"mac":"0012AB34CD56","unit":"3f1c","result":"failed"})"
                "\n",
                m_dir.file("old.jsonl"));
    run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(received(*simulator, 1).size(), 1u);
}

TEST_F(CliDownload, TwoRunsSharingARecordNeverSendTheSameMacTwice)
{
    const std::string record = m_dir.file("production.db");
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
    EXPECT_THAT(runs[1 - sender].err, HasSubstr("is already used by unit"));

    const auto lines = recordLines(record);
    ASSERT_EQ(lines.size(), 3u);
    std::multiset<QString> results;
    for (const auto& line : lines)
        results.insert(line.value("result").toString());
    EXPECT_EQ(results, (std::multiset<QString>{"pending", "ok", "refused"}));
}

TEST_F(CliDownload, MacCheckWaitsForAnotherProgramHoldingTheRecord)
{
    const std::string record = m_dir.file("production.db");
    importLines(record, "", m_dir.file("empty.jsonl"));
    auto simulator = startSimulator();
    // Another program takes the MAC in a transaction that it holds for a while.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(record.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "BEGIN IMMEDIATE; INSERT INTO units (time, target, type, mac, unit, "
                           "result, message, duration_s, mac_in_use) VALUES "
                           "('2026-12-08T06:00:00.000Z', '127.0.0.1:5000', 'data', "
                           "'0012AB34CD56', '3f1c', 'pending', '', 0, 1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);

    test::CliRun run;
    std::jthread runner([&] {
        run = test::runTolvaneCli({"download", "data", "--target", simulator->address(), "--mac",
                                   "0012AB34CD56", "--record", record, "--quiet"});
    });
    // Long enough that the run meets the held record, well inside its 10 s wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    runner.join();

    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("is already used by unit 3f1c"));
    expectNothingReceived(*simulator);
}

TEST_F(CliDownload, BatchSkipsOnlyTheUnitWhoseMacWasWrittenBefore)
{
    const std::string record = m_dir.file("production.db");
    importLines(record,
                R"({"time":"2026-01-01T00:00:00.000Z","mac":"0012AB34CD57","result":"ok"})"
                "\n",
                m_dir.file("old.jsonl"));
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
    const std::string record = m_dir.file("production.db");
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
                             "--record", m_dir.file("no-such-folder/record.db")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot open record"));
    expectNothingReceived(*simulator);
}

} // namespace
} // namespace tolvane

namespace tolvane {
namespace {

using namespace cli_test;

TEST_F(CliDownload, BenchesSkippingUsedMacsShareOneBlockWithoutDuplicates)
{
    const std::string record = m_dir.file("production.db");
    // 0012AB000001 went out before: the benches must pass over it.
    importLines(record,
                R"({"mac":"0012AB000001","unit":"earlier","result":"ok"})"
                "\n",
                m_dir.file("old.jsonl"));
    std::vector<std::unique_ptr<sim::Simulator>> simulators;
    std::vector<Args> benches(2, Args{"download", "data", "--mac", "0012AB000000", "--record",
                                      record, "--skip-used-macs", "--auto-increase", "--quiet"});
    for (std::size_t i = 0; i < 6; ++i) {
        simulators.push_back(startSimulator());
        benches[i % 2].insert(benches[i % 2].end(), {"--target", simulators[i]->address()});
    }
    std::vector<test::CliRun> runs(2);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < 2; ++i)
            threads.emplace_back([&, i] { runs[i] = test::runTolvaneCli(benches[i]); });
    }
    std::set<std::string> sent;
    for (const auto& run : runs)
        EXPECT_EQ(run.status, 0) << run.err;
    for (const auto& simulator : simulators)
        sent.insert(macOfPayload(received(*simulator, 1).at(0).payload));
    EXPECT_THAT(runs[0].err + runs[1].err,
                HasSubstr("0012AB000001 is already used by unit earlier"));
    // Six units, six addresses from 0012AB000000 on, 0012AB000001 left out.
    EXPECT_EQ(sent, (std::set<std::string>{"0012AB000000", "0012AB000002", "0012AB000003",
                                           "0012AB000004", "0012AB000005", "0012AB000006"}));
}

} // namespace
} // namespace tolvane

namespace tolvane {
namespace {

TEST_F(CliDownload, BatchGivesConsecutiveSerialsAndARepeatedBatchIsRefused)
{
    std::vector<std::unique_ptr<sim::Simulator>> recorders;
    Args args = {"download", "data", "--mac",    "0012AB000001",
                 "--serial", "1000", "--record", m_dir.file("units.db"),
                 "--quiet"};
    for (int i = 0; i < 5; ++i) {
        recorders.push_back(startSimulator());
        args.insert(args.end(), {"--target", recorders.back()->address()});
    }
    auto run = test::runTolvaneCli(args);
    ASSERT_EQ(run.status, 0) << run.err;
    for (std::uint32_t i = 0; i < 5; ++i) {
        const auto transfers = received(*recorders[i], 1);
        ASSERT_EQ(transfers.size(), 1u);
        // The serial number travels little-endian after the two MAC words.
        const Bytes& payload = transfers[0].payload;
        ASSERT_EQ(payload.size(), 12u);
        EXPECT_EQ(payload[8] | payload[9] << 8 | payload[10] << 16 | payload[11] << 24, 1000 + i);
    }

    // The same serials with other MAC addresses: every unit refused, nothing sent.
    args[3] = "0012AB000101";
    run = test::runTolvaneCli(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("serial number 1000 is already used by unit"));
    EXPECT_THAT(run.err, HasSubstr("serial number 1004 is already used by unit"));
    for (const auto& recorder : recorders)
        EXPECT_FALSE(recorder->waitForTransfers(2, std::chrono::milliseconds(100)));
}

} // namespace
} // namespace tolvane
