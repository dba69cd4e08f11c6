#include "recorder_script.h"

#include "core/transfer/wire_words.h"

#include <algorithm>

namespace tolvane::fuzz {

namespace {

constexpr std::size_t HeaderSize = 6;

} // namespace

RecorderScript decodeScript(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t header[HeaderSize] = {};
    std::copy_n(data, std::min(size, HeaderSize), header);
    RecorderScript script;
    script.typeIndex = static_cast<std::uint8_t>(header[0] % TypeCodeCount);
    script.payloadSize =
        static_cast<std::uint16_t>((header[1] | header[2] << 8) % (LargestPayload + 1));
    script.chunkSize = static_cast<std::uint16_t>(header[3] | header[4] << 8);
    script.ending = static_cast<Ending>(header[5] % EndingCount);

    std::size_t at = std::min(size, HeaderSize);
    while (at < size && script.steps.size() < MostSteps) {
        Step step;
        step.kind = static_cast<StepKind>(data[at] % StepKindCount);
        step.argument = static_cast<std::uint8_t>(data[at] / StepKindCount);
        ++at;
        if (step.kind == StepKind::Write) {
            const std::size_t count = std::min<std::size_t>(step.argument, size - at);
            step.bytes.assign(data + at, data + at + count);
            at += count;
        }
        script.steps.push_back(std::move(step));
    }
    return script;
}

std::vector<std::uint8_t> encodeScript(const RecorderScript& script)
{
    std::vector<std::uint8_t> bytes = {
        script.typeIndex,
        static_cast<std::uint8_t>(script.payloadSize),
        static_cast<std::uint8_t>(script.payloadSize >> 8),
        static_cast<std::uint8_t>(script.chunkSize),
        static_cast<std::uint8_t>(script.chunkSize >> 8),
        static_cast<std::uint8_t>(script.ending),
    };
    for (const Step& step : script.steps) {
        const auto kind = static_cast<std::uint8_t>(step.kind);
        if (step.kind != StepKind::Write) {
            bytes.push_back(static_cast<std::uint8_t>(kind + step.argument * StepKindCount));
            continue;
        }
        // Longer writes become several steps.
        for (std::size_t at = 0; at < step.bytes.size() || at == 0; at += LongestWrite) {
            const std::size_t count = std::min(LongestWrite, step.bytes.size() - at);
            bytes.push_back(static_cast<std::uint8_t>(kind + count * StepKindCount));
            bytes.insert(bytes.end(), step.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         step.bytes.begin() + static_cast<std::ptrdiff_t>(at + count));
            if (step.bytes.empty())
                break;
        }
    }
    return bytes;
}

std::uint32_t typeCodeAt(std::uint8_t typeIndex)
{
    constexpr std::uint32_t Codes[TypeCodeCount] = {
        TypeCode::IntegratedImage, TypeCode::ApplicationImage,
        TypeCode::MacAddress,      TypeCode::SerialNumber,
        TypeCode::MacAndSerial,    TypeCode::PtzImage,
        TypeCode::FirmwareVersion, 0x12345678u};
    return Codes[typeIndex % TypeCodeCount];
}

} // namespace tolvane::fuzz
