// The small pieces the command line is built on: SHA-256, JSON text, the production record and
// target addresses.
#include "cli/json.h"
#include "cli/production_record.h"
#include "cli/sha256.h"
#include "cli/targets.h"
#include "cli/terminal_text.h"
#include "support/temp_dir.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tolvane::cli {
namespace {

struct ShaVector {
    std::string input;
    const char* digest;
};

class Sha256Vectors : public ::testing::TestWithParam<ShaVector> {};

TEST_P(Sha256Vectors, DigestMatchesPublishedValue)
{
    EXPECT_EQ(sha256Hex(GetParam().input), GetParam().digest);
}

// FIPS 180-4 examples; the 56-byte one needs a second padding block, the 64-byte one fills a block.
INSTANTIATE_TEST_SUITE_P(
    Fips, Sha256Vectors,
    ::testing::Values(
        ShaVector{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        ShaVector{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        ShaVector{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        ShaVector{std::string(64, 'a'),
                  "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"}));

TEST(Sha256, FileDigestEqualsDigestOfItsContentAndMissingFileFails)
{
    test::TempDir dir;
    {
        std::ofstream file(dir.file("million"), std::ios::binary);
        file << std::string(1'000'000, 'a');
    }
    EXPECT_EQ(sha256OfFile(dir.file("million")),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    std::string error;
    EXPECT_FALSE(sha256OfFile(dir.file("absent"), &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

// Qt's reader decides whether the text is JSON, not the code under test.
QString readBack(const std::string& literal)
{
    const std::string document = "{\"k\":" + literal + "}";
    QJsonParseError error{};
    const QJsonDocument parsed =
        QJsonDocument::fromJson(QByteArray::fromStdString(document), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << document;
    return parsed.object().value("k").toString();
}

TEST(JsonString, EscapedTextReadsBackUnchanged)
{
    for (const std::string& text :
         {std::string("plain"), std::string("quote \" backslash \\ slash /"),
          std::string("tab\tnewline\nreturn\r"), std::string("bell\x07 escape\x1b del\x7f"),
          std::string("nul\0inside", 10),
          std::string("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7")}) {
        EXPECT_EQ(readBack(jsonString(text)),
                  QString::fromUtf8(text.data(), qsizetype(text.size())))
            << text;
        EXPECT_EQ(jsonString(text).find('\n'), std::string::npos);
    }
}

TEST(JsonString, BytesThatAreNotUtf8StayValidJson)
{
    // A lone continuation byte, a cut sequence and an overlong encoding.
    EXPECT_EQ(readBack(jsonString("a\x80z")), QString("a") + QChar(0x80) + "z");
    EXPECT_EQ(readBack(jsonString("\xe2\x82")), QString(QChar(0xe2)) + QChar(0x82));
    EXPECT_EQ(readBack(jsonString("\xc0\xaf")), QString(QChar(0xc0)) + QChar(0xaf));
}

TEST(JsonObjectStrings, ReadsStringMembersAndRejectsBrokenLines)
{
    const auto members = parseJsonObjectStrings(
        R"( {"mac":"0012AB34CD56","n":12.5e1,"x":null,"t":true,"a":[1,{"b":"c"}],"o":{},"s":"\u00e9\"\n"} )");
    ASSERT_TRUE(members);
    EXPECT_EQ(members->at("mac"), "0012AB34CD56");
    EXPECT_EQ(members->at("s"), "\xc3\xa9\"\n");
    EXPECT_EQ(members->count("n"), 0u);
    for (const char* broken : {R"({"mac":"0012AB34CD56","result":"o)", R"({"mac":)", "", "[]",
                               R"({"a":1} trailing)", R"({"a":"raw
newline"})"}) {
        EXPECT_FALSE(parseJsonObjectStrings(broken)) << broken;
    }
}

struct PrintableCase {
    std::string raw;
    const char* shown;
};

class PrintableText : public ::testing::TestWithParam<PrintableCase> {};

TEST_P(PrintableText, ControlAndInvalidBytesAreShownAsHex)
{
    EXPECT_EQ(printableText(GetParam().raw), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintableText,
    ::testing::Values(
        PrintableCase{"Pelco-D 9600", "Pelco-D 9600"},
        PrintableCase{"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"}, // é and € kept
        PrintableCase{"\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},               // window title
        PrintableCase{"a\x1b[2Jb\r\n\x7f", "a\\x1B[2Jb\\x0D\\x0A\\x7F"},
        PrintableCase{std::string("nul\0x", 5), "nul\\x00x"},
        PrintableCase{"\xc2\x9b"
                      "2J \xc2\xa0",
                      "\\xC2\\x9B"
                      "2J \xc2\xa0"},                                // C1 CSI; no-break space kept
        PrintableCase{"\xff\xc3 \xe2\x82", "\\xFF\\xC3 \\xE2\\x82"}, // not UTF-8
        PrintableCase{"\xc0\xaf\xed\xa0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"})); // overlong, surrogate

RecordEntry entryFor(const std::string& mac, const std::string& result)
{
    RecordEntry entry;
    entry.time = std::chrono::system_clock::now();
    entry.target = "127.0.0.1:5000";
    entry.type = "data";
    entry.mac = mac;
    entry.unit = "unit-" + mac;
    entry.result = result;
    return entry;
}

TEST(ProductionRecord, OnlySuccessfulLinesMarkAMacAsWritten)
{
    test::TempDir dir;
    ProductionRecord record(dir.file("record.jsonl"));
    std::string error;
    EXPECT_EQ(record.macUsed("0012AB34CD56", &error), false) << "no record yet";
    ASSERT_TRUE(record.append(entryFor("0012AB34CD56", ResultOk), &error)) << error;
    ASSERT_TRUE(record.append(entryFor("0012AB34CD57", ResultFailed), &error)) << error;
    ASSERT_TRUE(record.append(entryFor("0012AB34CD58", ResultRefused), &error)) << error;
    // A crash in the middle of a line leaves a fragment that must not count.
    {
        std::ofstream file(dir.file("record.jsonl"), std::ios::app);
        file << R"({"mac":"0012AB34CD59","result":"ok")";
    }
    EXPECT_EQ(record.macUsed("0012ab34cd56", &error), true);
    EXPECT_EQ(record.macUsed("0012AB34CD57", &error), false);
    EXPECT_EQ(record.macUsed("0012AB34CD58", &error), false);
    EXPECT_EQ(record.macUsed("0012AB34CD59", &error), false);

    std::ifstream file(dir.file("record.jsonl"));
    std::string line;
    int lines = 0;
    while (std::getline(file, line))
        ++lines;
    EXPECT_EQ(lines, 4);
}

struct RecordCase {
    const char* name;
    std::string content; // written by hand
    bool used;           // whether 0012AB34CD56 counts as used
};

class RecordMacUse : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordMacUse, OkOrUnfinishedPendingLinesMarkTheMacUsed)
{
    test::TempDir dir;
    {
        std::ofstream file(dir.file("record.jsonl"), std::ios::binary);
        file << GetParam().content;
    }
    ProductionRecord record(dir.file("record.jsonl"));
    std::string error;
    EXPECT_EQ(record.macUsed("0012AB34CD56", &error), GetParam().used) << error;
}

std::string line(const char* mac, const char* result, const char* unit)
{
    return std::string(R"({"time":"2026-12-08T06:00:00.000Z","mac":")") + mac +
           R"(","serial":null,"unit":")" + unit + R"(","result":")" + result + "\"}\n";
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordMacUse,
    ::testing::Values(
        RecordCase{"Empty", "", false}, RecordCase{"Ok", line("0012AB34CD56", "ok", "a"), true},
        RecordCase{"OkInLowerCase", line("0012ab34cd56", "ok", "a"), true},
        RecordCase{"FailedAndRefused",
                   line("0012AB34CD56", "failed", "a") + line("0012AB34CD56", "refused", "b"),
                   false},
        RecordCase{"OtherMacOk", line("0012AB34CD57", "ok", "a"), false},
        RecordCase{"PendingOnly", line("0012AB34CD56", "pending", "a"), true},
        RecordCase{"PendingThenFailed",
                   line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "failed", "a"),
                   false},
        RecordCase{"PendingThenOk",
                   line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "ok", "a"), true},
        RecordCase{"PendingThenAnotherUnitFailed",
                   line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "failed", "b"),
                   true},
        RecordCase{"TwoPendingOneFinished",
                   line("0012AB34CD56", "pending", "a") + line("0012AB34CD56", "pending", "b") +
                       line("0012AB34CD56", "failed", "a"),
                   true},
        RecordCase{"PendingWithoutUnit",
                   R"({"mac":"0012AB34CD56","result":"pending"})" + std::string("\n") +
                       line("0012AB34CD56", "failed", "a"),
                   true},
        RecordCase{"OtherMacPending", line("0012AB34CD57", "pending", "a"), false},
        // A crash cut the line; its "ok" is not finished and counts for nothing.
        RecordCase{"CutLine", R"({"mac":"0012AB34CD56","result":"ok")", false},
        // A cut line with the next complete line joined to it, as older records could hold.
        RecordCase{"CutLineWithNextJoined",
                   R"({"mac":"0012AB34CD57","message":"a {b","res)" +
                       line("0012AB34CD56", "ok", "a"),
                   true},
        // A cut line whose message holds a whole line's text, escaped: not a line start.
        RecordCase{
            "BracesInsideStringsAreNoLineStart",
            R"({"mac":"0012AB34CD57","message":"x {\"mac\":\"0012AB34CD56\",\"result\":\"ok\"}","res)"
            "\n",
            false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ProductionRecord, LineAppendedAfterACutLineStartsOnItsOwnLine)
{
    test::TempDir dir;
    {
        std::ofstream file(dir.file("record.jsonl"), std::ios::binary);
        file << R"({"time":"2026-12-08T06:00:00.000Z","mac":"0012AB34CD59","result":"o)";
    }
    ProductionRecord record(dir.file("record.jsonl"));
    std::string error;
    ASSERT_TRUE(record.append(entryFor("0012AB34CD5A", ResultOk), &error)) << error;
    EXPECT_EQ(record.macUsed("0012AB34CD5A", &error), true);
    EXPECT_EQ(record.macUsed("0012AB34CD59", &error), false);

    std::ifstream file(dir.file("record.jsonl"), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string text; std::getline(file, text);)
        lines.push_back(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], R"({"time":"2026-12-08T06:00:00.000Z","mac":"0012AB34CD59","result":"o)");
    QJsonParseError parseError{};
    const auto appended = QJsonDocument::fromJson(QByteArray::fromStdString(lines[1]), &parseError);
    ASSERT_EQ(parseError.error, QJsonParseError::NoError) << lines[1];
    EXPECT_EQ(appended.object().value("mac").toString(), "0012AB34CD5A");
    EXPECT_EQ(appended.object().value("unit").toString(), "unit-0012AB34CD5A");
}

TEST(ProductionRecord, ReservationWritesAPendingLineOnlyForAnUnusedMac)
{
    test::TempDir dir;
    ProductionRecord record(dir.file("record.jsonl"));
    std::string error;
    RecordEntry pending = entryFor("0012AB34CD56", ResultPending);
    EXPECT_EQ(record.reserveMac(pending, false, &error), true) << error;
    // Now pending: a second reservation fails and writes nothing, unless reuse is allowed.
    EXPECT_EQ(record.reserveMac(pending, false, &error), false);
    EXPECT_EQ(record.reserveMac(pending, true, &error), true);

    std::ifstream file(dir.file("record.jsonl"), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    EXPECT_EQ(lines, 2u) << text;
    EXPECT_NE(text.find(R"("result":"pending")"), std::string::npos) << text;
}

TEST(ProductionRecord, UnitIdsDiffer)
{
    const std::string first = newUnitId();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
    EXPECT_NE(first, newUnitId());
}

TEST(ProductionRecord, UnwritableRecordIsReported)
{
    test::TempDir dir;
    ProductionRecord record(dir.file("missing-folder/record.jsonl"));
    std::string error;
    EXPECT_FALSE(record.checkWritable(&error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(record.append(entryFor("0012AB34CD56", ResultOk), &error));
}

TEST(IsoUtcTime, FormatsUtcWithMilliseconds)
{
    // 2026-12-08 06:19:37.045 UTC
    const std::chrono::system_clock::time_point time{std::chrono::milliseconds(1796710777045LL)};
    EXPECT_EQ(isoUtcTime(time), "2026-12-08T06:19:37.045Z");
}

TEST(TargetsFile, SkipsBlankLinesAndCommentsAndNamesTheBadLine)
{
    test::TempDir dir;
    {
        std::ofstream file(dir.file("good"));
        file << "# bench 1\n\n127.0.0.1:6001\n  127.0.0.1   # second unit\n\t\n127.0.0.1:6003\r\n";
    }
    std::string error;
    const auto targets = readTargetsFile(dir.file("good"), &error);
    ASSERT_TRUE(targets) << error;
    ASSERT_EQ(targets->size(), 3u);
    EXPECT_EQ(targetText((*targets)[0]), "127.0.0.1:6001");
    EXPECT_EQ(targetText((*targets)[1]), "127.0.0.1:5000");
    EXPECT_EQ(targetText((*targets)[2]), "127.0.0.1:6003");

    {
        std::ofstream file(dir.file("bad"));
        file << "127.0.0.1\nrecorder-2\n";
    }
    EXPECT_FALSE(readTargetsFile(dir.file("bad"), &error));
    EXPECT_NE(error.find(":2:"), std::string::npos) << error;
    {
        std::ofstream file(dir.file("zero"));
        file << "127.0.0.1\n127.0.0.2\n127.0.0.003\n";
    }
    EXPECT_FALSE(readTargetsFile(dir.file("zero"), &error));
    EXPECT_NE(error.find(":3: an address with a leading zero"), std::string::npos) << error;
    EXPECT_FALSE(readTargetsFile(dir.file("absent"), &error));
}

} // namespace
} // namespace tolvane::cli
