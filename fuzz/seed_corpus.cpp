// Writes the seed corpus of every fuzz target: FOLDER/<target>/<seed>, valid inputs built in
// code that reach deep into each reader, and a few broken ones.
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"
#include "recorder_script.h"
#include "support/firmware_image.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

using tolvane::test::FirmwareImageBuilder;
using Bytes = std::vector<std::uint8_t>;
using Seeds = std::vector<std::pair<std::string, Bytes>>;

Bytes textBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Seeds firmwareImages()
{
    using Layout = FirmwareImageBuilder::Layout;
    // Small, so the fuzzer's mutations land on the header and the member often.
    const auto small = [](FirmwareImageBuilder builder) {
        return builder.trailingBytes(16).build();
    };
    std::string noisy(20 * 1024, ' ');
    std::uint32_t state = 99;
    for (char& c : noisy) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>('a' + (state >> 16) % 26);
    }
    return {
        {"integrated", small(FirmwareImageBuilder().version("3.5.1"))},
        {"application-only", small(FirmwareImageBuilder(Layout::ApplicationOnly).version("3.7.2"))},
        {"gzip-fields", small(FirmwareImageBuilder()
                                  .version("2.9.4")
                                  .gzipName("image.bin")
                                  .gzipComment("a comment")
                                  .gzipExtra({1, 2, 3, 4, 5}))},
        {"header-crc", small(FirmwareImageBuilder().version("1.0.0").gzipHeaderCrc())},
        {"signs-and-blanks",
         small(FirmwareImageBuilder().content("x $version: \t+3. -5.2147483647 $ y"))},
        {"noisy-member", small(FirmwareImageBuilder().content(noisy + "$version: 5.6.7 $"))},
        {"corrupt-crc", small(FirmwareImageBuilder().corruptCrc())},
    };
}

tolvane::PtzProtocol protocol(std::int32_t number, const char* name, std::uint8_t seed)
{
    tolvane::PtzProtocol record;
    record.number = number;
    record.setName(name);
    record.parity = 3;
    record.dataBits = 3;
    record.baudRate = 9600;
    for (int i = 0; i < 3; ++i) {
        tolvane::PtzCommand& command = record.commands[static_cast<std::size_t>(i * 13)];
        command.enable = 1;
        command.commandLength = 7;
        for (std::size_t k = 0; k < 7; ++k)
            command.bytes[k] = static_cast<std::uint8_t>(seed + i * 7 + k);
    }
    return record;
}

Seeds protocolDatabases()
{
    Seeds seeds;
    tolvane::PtzProtocolList list;
    seeds.push_back({"empty", list.SaveBytes()});
    const char* names[] = {"Pelco-D", "Pelco-P", "Samsung"};
    for (int i = 0; i < 3; ++i) {
        list.Grow(1);
        list.SetAt(i, protocol(i, names[i], static_cast<std::uint8_t>(i * 40)));
    }
    Bytes three = list.SaveBytes();
    seeds.push_back({"three", three});
    Bytes partTail = three;
    partTail.resize(partTail.size() + 100, 0xEE);
    seeds.push_back({"tail", partTail});
    Bytes short2 = three;
    short2.resize(short2.size() - 1);
    seeds.push_back({"last-cut", short2});
    return seeds;
}

Seeds ptzImages()
{
    tolvane::PtzImage image;
    image.UpdateChecksum();
    const auto& empty = image.Bytes();
    Seeds seeds = {{"empty", Bytes(empty.begin(), empty.end())}};
    const char* names[] = {"Pelco-D", "Pelco-P", "Samsung"};
    for (int i = 0; i < 3; ++i)
        image.SetAt(i, protocol(i, names[i], static_cast<std::uint8_t>(i * 40)));
    image.UpdateChecksum();
    Bytes three(image.Bytes().begin(), image.Bytes().end());
    seeds.push_back({"three", three});
    three.push_back(0);
    seeds.push_back({"one-byte-long", three});
    return seeds;
}

Seeds fieldTexts()
{
    Seeds seeds;
    for (const char* text :
         {"", "F", "G5", "7f",
          "\xC3\xA9"
          "5",
          "-2147483648", " +12\t", "2147483648", "\xC3\x9Cmlaut camera protocol \xC3\xBCnit"})
        seeds.push_back({"text-" + std::to_string(seeds.size()), textBytes(text)});
    return seeds;
}

Seeds macTexts()
{
    Seeds seeds;
    for (const char* text : {"0012AB34CD56", "ffffffffffff", "00000000000G", "12345", "FFFFFF"})
        seeds.push_back({"mac-" + std::to_string(seeds.size()), textBytes(text)});
    return seeds;
}

Seeds targetTexts()
{
    Seeds seeds;
    for (const char* text : {"127.0.0.1", "127.0.0.1:6001", "127.000.0.1", "0.0.0.0", "224.0.0.1",
                             "223.255.255.255:65535", "127.0.0.1:0", " 42 "})
        seeds.push_back({"target-" + std::to_string(seeds.size()), textBytes(text)});
    return seeds;
}

Seeds targetsFiles()
{
    return {
        {"good", textBytes("# bench\n127.0.0.1:6001\n  127.0.0.2 # two\n\n127.0.0.3:7\r\n")},
        {"bad-line", textBytes("127.0.0.1\n127.0.0.01\n")},
        {"long-line", textBytes("127.0.0.1\n" + std::string(1001, 'x') + "\n")},
    };
}

Seeds recorderScripts()
{
    using namespace tolvane::fuzz;
    const auto answer = [](AnswerWord word) {
        return Step{StepKind::Answer, static_cast<std::uint8_t>(word), {}};
    };
    const Step typeAnswer = answer(AnswerWord::TypeAnswer);
    const Step sizeEcho = answer(AnswerWord::SizeEcho);
    const Step ack = answer(AnswerWord::Acknowledgement);
    const Step refusal = answer(AnswerWord::Refusal);

    Seeds seeds;
    const auto add = [&seeds](const std::string& name, const RecorderScript& script) {
        seeds.push_back({name, encodeScript(script)});
    };
    // A whole transfer of every type, of several payload sizes and chunk sizes (an odd one sends
    // the payload as three spans).
    for (std::uint8_t type = 0; type < TypeCodeCount; ++type) {
        const bool compatibility = type == 6;
        RecorderScript script;
        script.typeIndex = type;
        script.payloadSize = static_cast<std::uint16_t>(type * 4000 + 12);
        script.chunkSize = type % 2 == 0 ? 0 : (type % 4 == 1 ? 1000 : 1001);
        script.ending = Ending::Drain;
        script.steps = {typeAnswer, sizeEcho, ack};
        if (!compatibility)
            script.steps.push_back(ack);
        add("whole-" + std::to_string(type), script);
    }
    RecorderScript script;
    script.typeIndex = 6;
    script.payloadSize = 4;
    script.ending = Ending::Drain;
    script.steps = {typeAnswer, sizeEcho, refusal};
    add("refused", script);

    script = {};
    script.payloadSize = 5000;
    script.chunkSize = 512;
    script.ending = Ending::Drain;
    script.steps = {Step{StepKind::Drip, 0, {}},
                    Step{StepKind::Drip, 1, {}},
                    Step{StepKind::Read, 3, {}},
                    Step{StepKind::Pause, 2, {}},
                    ack,
                    ack};
    add("dripped", script);

    script.steps = {typeAnswer, sizeEcho, Step{StepKind::ShutWrite, 0, {}}};
    script.ending = Ending::Drain;
    add("half-close-after-size", script);

    script.steps = {typeAnswer, sizeEcho, Step{StepKind::Read, 1, {}},
                    Step{StepKind::Close, 0, {}}};
    add("reset-mid-payload", script);

    script.payloadSize = 32768;
    script.chunkSize = 4096;
    script.steps = {typeAnswer, sizeEcho, Step{StepKind::Read, 0, {}}};
    script.ending = Ending::Hold;
    add("stops-reading", script);

    script.payloadSize = 100;
    script.chunkSize = 0;
    script.steps = {typeAnswer, sizeEcho, ack, ack, Step{StepKind::Write, 0, {0xDE, 0xAD, 0xBE}}};
    script.ending = Ending::ShutWriteAndDrain;
    add("garbage-after-acks", script);

    script.steps = {Step{StepKind::Write, 0, {0xAB, 0x55, 0x00}}, Step{StepKind::Pause, 7, {}}};
    script.ending = Ending::Close;
    add("short-answer", script);
    return seeds;
}

void writeSeeds(const std::filesystem::path& folder, const Seeds& seeds)
{
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : seeds) {
        const std::string path = (folder / name).string();
        tolvane::test::writeFileBytes(path, bytes);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    try {
        const std::filesystem::path root = argv[1];
        writeSeeds(root / "fuzz_image_version", firmwareImages());
        writeSeeds(root / "fuzz_protocol_database", protocolDatabases());
        writeSeeds(root / "fuzz_ptz_image", ptzImages());
        writeSeeds(root / "fuzz_download_worker", recorderScripts());
        writeSeeds(root / "fuzz_ptz_field_text", fieldTexts());
        writeSeeds(root / "fuzz_mac_address", macTexts());
        writeSeeds(root / "fuzz_target_address", targetTexts());
        writeSeeds(root / "fuzz_targets_file", targetsFiles());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
