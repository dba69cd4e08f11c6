#include "core/ptz/ptz_protocol.h"
#include "ptz/ptz_test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace tolvane {
namespace {

using test::ByteVector;

TEST(PtzProtocolLayout, NewRecordIsAllZeroBytes)
{
    const auto bytes = PtzProtocol{}.toBytes();
    EXPECT_EQ(bytes, PtzProtocol::Bytes{});
}

TEST(PtzProtocolLayout, HeaderFieldsAtTheirOffsets)
{
    PtzProtocol record;
    record.number = 0x12345678;
    record.setName("Pelco-D");
    record.name[23] = 'Z';
    record.parity = 3;
    record.dataBits = 2;
    record.stopBits = 1;
    record.reserved = 0xA5;
    record.baudRate = 9600;
    const auto b = record.toBytes();

    const std::uint8_t expected[36] = {
        0x78, 0x56, 0x34, 0x12,                               // number
        'P',  'e',  'l',  'c',  'o', '-', 'D', 0, 0, 0, 0, 0, // name, NUL-padded
        0,    0,    0,    0,    0,   0,   0,   0, 0, 0, 0,    //
        'Z',                                                  // 24th name byte
        3,    2,    1,    0xA5,                               // parity, data, stop, reserved
        0x80, 0x25, 0x00, 0x00,                               // 9600
    };
    for (std::size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(b[i], expected[i]) << "offset " << i;
}

TEST(PtzProtocolLayout, NegativeNumbersAreTwosComplement)
{
    PtzProtocol record;
    record.number = -2;
    record.baudRate = -1;
    const auto b = record.toBytes();
    EXPECT_EQ((ByteVector{b[0], b[1], b[2], b[3]}), (ByteVector{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ((ByteVector{b[32], b[33], b[34], b[35]}), (ByteVector{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(PtzProtocol::fromBytes(b.data()).number, -2);
}

// Each command field with its offset inside the 44-byte entry.
struct CommandField {
    const char* name;
    std::size_t offset;
    std::function<std::uint8_t&(PtzCommand&)> field;
};

const CommandField CommandFields[] = {
    {"enable", 0, [](PtzCommand& c) -> std::uint8_t& { return c.enable; }},
    {"repeatCount", 1, [](PtzCommand& c) -> std::uint8_t& { return c.repeatCount; }},
    {"senderOffset", 2, [](PtzCommand& c) -> std::uint8_t& { return c.senderOffset; }},
    {"receiverOffset", 3, [](PtzCommand& c) -> std::uint8_t& { return c.receiverOffset; }},
    {"checksumOffset", 4, [](PtzCommand& c) -> std::uint8_t& { return c.checksumOffset; }},
    {"checksumStart", 5, [](PtzCommand& c) -> std::uint8_t& { return c.checksumStart; }},
    {"checksumEnd", 6, [](PtzCommand& c) -> std::uint8_t& { return c.checksumEnd; }},
    {"commandDelay", 7, [](PtzCommand& c) -> std::uint8_t& { return c.commandDelay; }},
    {"checksumMethod", 8, [](PtzCommand& c) -> std::uint8_t& { return c.checksumMethod; }},
    {"commandLength", 9, [](PtzCommand& c) -> std::uint8_t& { return c.commandLength; }},
    {"nextCommand", 10, [](PtzCommand& c) -> std::uint8_t& { return c.nextCommand; }},
    {"dataFormat", 11, [](PtzCommand& c) -> std::uint8_t& { return c.dataFormat; }},
};

TEST(PtzProtocolLayout, EveryCommandFieldAtItsOffset)
{
    // One field of one command at a time, so a field written to the wrong place shows up as a
    // stray non-zero byte as well as a missing one.
    for (int k : {0, 1, 17, 39}) {
        for (const CommandField& f : CommandFields) {
            PtzProtocol record;
            f.field(record.commands[k]) = 0xC3;
            const auto b = record.toBytes();
            const std::size_t at = 36 + 44 * static_cast<std::size_t>(k) + f.offset;
            for (std::size_t i = 0; i < b.size(); ++i)
                ASSERT_EQ(b[i], i == at ? 0xC3 : 0)
                    << f.name << " of command " << k << ", byte " << i;
            EXPECT_EQ(f.field(PtzProtocol::fromBytes(b.data()).commands[k]), 0xC3) << f.name;
        }
        PtzProtocol record;
        for (int j = 0; j < 32; ++j)
            record.commands[k].bytes[j] = static_cast<std::uint8_t>(0x80 + j);
        const auto b = record.toBytes();
        for (int j = 0; j < 32; ++j)
            EXPECT_EQ(b[36 + 44 * k + 12 + j], 0x80 + j) << "pattern byte " << j;
    }
}

TEST(PtzProtocolLayout, DecodeEncodeIsLossless)
{
    for (std::uint8_t seed : {1, 2, 200}) {
        const ByteVector raw = test::patternedRecordBytes(0x7F00AA55, seed);
        const auto again = PtzProtocol::fromBytes(raw.data()).toBytes();
        EXPECT_TRUE(std::equal(raw.begin(), raw.end(), again.begin())) << "seed " << int(seed);
    }
}

TEST(PtzProtocolName, LongNameKeepsTwentyThreeCharactersAndTheLastByte)
{
    PtzProtocol record;
    record.name[23] = 'Q';
    record.setName("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const auto b = record.toBytes();
    EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 27), "ABCDEFGHIJKLMNOPQRSTUVW");
    EXPECT_EQ(b[27], 'Q');
    // No NUL in the field: the name out stops at the field's end.
    EXPECT_EQ(record.nameText(), "ABCDEFGHIJKLMNOPQRSTUVWQ");

    record.setName("ab");
    const auto c = record.toBytes();
    EXPECT_EQ(
        ByteVector(c.begin() + 4, c.begin() + 28),
        (ByteVector{'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'Q'}));
    EXPECT_EQ(record.nameText(), "ab");
}

TEST(PtzProtocolName, SystemRecordsKeepTheLastNameByteZero)
{
    PtzProtocol record;
    record.setName(std::string(40, 'x'));
    EXPECT_EQ(record.toBytes()[27], 0);
    EXPECT_EQ(record.nameText(), std::string(23, 'x'));
}

TEST(PtzProtocolEntryText, FormatsNumberThenName)
{
    struct Case {
        std::int32_t number;
        const char* name;
        const char* text;
    };
    for (const Case& c : {Case{7, "Alpha", "[007]Alpha"}, Case{0, "", "[000]"},
                          Case{1234, "B", "[1234]B"}, Case{-5, "Neg", "[-05]Neg"}}) {
        PtzProtocol record;
        record.number = c.number;
        record.setName(c.name);
        EXPECT_EQ(record.entryText(), c.text);
    }
}

TEST(PtzProtocolEntryText, RowNumberReadsTheDigitsBeforeTheBracket)
{
    struct Case {
        const char* text;
        std::int32_t number;
    };
    for (const Case& c : {
             Case{"[007]Alpha", 7},
             Case{"[000]New PTZ Protocol(0)", 0},
             Case{"[1234]B", 1234},
             Case{"[2147483647]Max", 2147483647},
             Case{"[12]x]y", 12}, // the first bracket ends the number
             Case{"no bracket", 0},
             Case{"", 0},
             Case{"[]x", 0},
             Case{"[-05]Neg", -5}, // the entry text's minus sign is read back
             Case{"[-2147483648]Min", INT32_MIN},
         }) {
        EXPECT_EQ(rowNumberFromEntryText(c.text), c.number) << c.text;
    }
}

TEST(PtzProtocolEntryText, RowNumberRoundTrip)
{
    for (std::int32_t n : {0, 1, 9, 10, 99, 100, 999, 1000, 65535, -1, -999, -1000}) {
        PtzProtocol record;
        record.number = n;
        record.setName("Name]With[Brackets");
        EXPECT_EQ(rowNumberFromEntryText(record.entryText()), n);
    }
}

TEST(PtzProtocolTexts, CommandLabelsInIndexOrder)
{
    const char* labels[40] = {
        "PTZCMD_AUTO_FOCUS", "PTZCMD_AUTO_FOCUS_2", "PTZCMD_AUTO_IRIS",  "PTZCMD_AUTO_IRIS_2",
        "PTZCMD_IDDISPLAY",  "PTZCMD_IDDISPLAY_2",  "PTZCMD_PAN_LEFT",   "PTZCMD_PAN_LEFT_2",
        "PTZCMD_PAN_RIGHT",  "PTZCMD_PAN_RIGHT_2",  "PTZCMD_TILT_UP",    "PTZCMD_TILT_UP_2",
        "PTZCMD_TILT_DOWN",  "PTZCMD_TILT_DOWN_2",  "PTZCMD_UPLEFT",     "PTZCMD_UPLEFT_2",
        "PTZCMD_UPRIGHT",    "PTZCMD_UPRIGHT_2",    "PTZCMD_DOWNLEFT",   "PTZCMD_DOWNLEFT_2",
        "PTZCMD_DOWNRIGHT",  "PTZCMD_DOWNRIGHT_2",  "PTZCMD_ZOOM_IN",    "PTZCMD_ZOOM_IN_2",
        "PTZCMD_ZOOM_OUT",   "PTZCMD_ZOOM_OUT_2",   "PTZCMD_FOCUS_FAR",  "PTZCMD_FOCUS_FAR_2",
        "PTZCMD_FOCUS_NEAR", "PTZCMD_FOCUS_NEAR_2", "PTZCMD_IRIS_CLOSE", "PTZCMD_IRIS_CLOSE_2",
        "PTZCMD_IRIS_OPEN",  "PTZCMD_IRIS_OPEN_2",  "PTZCMD_STOP",       "PTZCMD_STOP_2",
        "PTZCMD_RESERVED36", "PTZCMD_RESERVED37",   "PTZCMD_RESERVED38", "PTZCMD_RESERVED39",
    };
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(ptzCommandLabel(i), labels[i]) << i;
    EXPECT_TRUE(ptzCommandLabel(-1).empty());
    EXPECT_TRUE(ptzCommandLabel(40).empty());
}

TEST(PtzProtocolTexts, SerialChoiceTexts)
{
    EXPECT_EQ(parityChoiceText(0), "NONE");
    EXPECT_EQ(parityChoiceText(1), "ODD");
    EXPECT_EQ(parityChoiceText(2), "EVEN");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dataBitsChoiceText(i), "BYTE " + std::to_string(5 + i));
    EXPECT_EQ(stopBitsChoiceText(0), "STOP 1");
    EXPECT_EQ(stopBitsChoiceText(1), "STOP 2");
    for (int bad : {-1, 4, 40})
        EXPECT_TRUE(dataBitsChoiceText(bad).empty()) << bad;
    EXPECT_TRUE(parityChoiceText(3).empty());
    EXPECT_TRUE(stopBitsChoiceText(2).empty());
}

TEST(PtzProtocolCodes, CodeToChoiceForEveryByte)
{
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        const int parity = code == 1 ? 1 : code == 3 ? 2 : 0;
        EXPECT_EQ(parityChoiceFromCode(c), parity) << code;
        EXPECT_EQ(dataBitsChoiceFromCode(c), code <= 3 ? code : 0) << code;
        EXPECT_EQ(stopBitsChoiceFromCode(c), code <= 1 ? code : 0) << code;
    }
}

TEST(PtzProtocolCodes, ChoiceToCode)
{
    EXPECT_EQ(parityCodeFromChoice(0), 0);
    EXPECT_EQ(parityCodeFromChoice(1), 1);
    EXPECT_EQ(parityCodeFromChoice(2), 3); // "EVEN"
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dataBitsCodeFromChoice(i), i);
    EXPECT_EQ(stopBitsCodeFromChoice(0), 0);
    EXPECT_EQ(stopBitsCodeFromChoice(1), 1);
    // Unknown codes show the first choice, and storing that writes 0.
    for (std::uint8_t unknown : {2, 4, 255})
        EXPECT_EQ(parityCodeFromChoice(parityChoiceFromCode(unknown)), 0) << int(unknown);
    EXPECT_EQ(dataBitsCodeFromChoice(dataBitsChoiceFromCode(9)), 0);
    EXPECT_EQ(stopBitsCodeFromChoice(stopBitsChoiceFromCode(2)), 0);
}

} // namespace
} // namespace tolvane
