#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The input of the download worker's fuzz target: the job the worker runs and what the recorder
// at the other end of the socket does, step by step. Written as bytes so the fuzzer can change it
// and the seed program can write scripts that reach every stage of a transfer.
namespace tolvane::fuzz {

enum class StepKind : std::uint8_t {
    Write,     // the step's bytes
    Answer,    // one word the worker waits for, chosen by the argument (AnswerWord)
    Read,      // up to (argument + 1) * 512 bytes, waiting a little for the first
    Drain,     // reads until nothing comes for a little while
    Pause,     // argument % 8 milliseconds
    ShutWrite, // half-close: the worker reads the end of the stream
    Close,     // closes the socket; the steps end here
    Drip,      // one answer word, a byte at a time with a millisecond between
};
inline constexpr int StepKindCount = 8;

enum class AnswerWord : std::uint8_t { TypeAnswer, SizeEcho, Acknowledgement, Refusal };

// What the recorder does once its steps are done, until the worker has ended.
enum class Ending : std::uint8_t { Close, Drain, Hold, ShutWriteAndDrain };
inline constexpr int EndingCount = 4;

struct Step {
    StepKind kind = StepKind::Write;
    std::uint8_t argument = 0; // 0-31
    std::vector<std::uint8_t> bytes;
};

inline constexpr std::size_t LargestPayload = 32 * 1024;
inline constexpr std::size_t MostSteps = 64;
inline constexpr std::size_t LongestWrite = 31;

struct RecorderScript {
    std::uint8_t typeIndex = 0; // into typeCodeAt
    std::uint16_t payloadSize = 0;
    std::uint16_t chunkSize = 0; // 0: the socket's send buffer
    Ending ending = Ending::Close;
    std::vector<Step> steps;
};

// Bytes: type index, payload size and chunk size (little-endian 16 bits each), ending, then one
// byte a step (kind in the low 3 bits, argument above) followed by a Write step's bytes. Every
// byte string is some script; what does not fit is cut or wrapped.
RecorderScript decodeScript(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> encodeScript(const RecorderScript& script);

// The download type codes and one no recorder knows.
inline constexpr int TypeCodeCount = 8;
std::uint32_t typeCodeAt(std::uint8_t typeIndex);

} // namespace tolvane::fuzz
