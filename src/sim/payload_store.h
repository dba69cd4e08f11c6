#pragma once

#include "core/base/failure.h"
#include "core/base/temporary_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tolvane::sim {

// The highest number a payload saved in the directory by an earlier run carries, or 0.
std::size_t highestSavedSequenceNumber(const std::string& directory);

// A payload written to disk as it arrives, in a TemporaryFile (hidden and not starting with a
// digit where it has a name, so neither numbering nor a listing takes it for a payload) until
// commit() gives it its own, directory/NNNN-TYPE.bin. So a payload cut short, or a simulator
// killed mid-transfer, leaves no file that would pass for a received payload.
class IncomingPayloadFile {
public:
    explicit IncomingPayloadFile(std::string directory);

    Result<void> open();
    // Once a write fails the file is dropped and every further call does nothing.
    void write(const std::uint8_t* data, std::size_t size);
    // Flushes the file and names it after number and typeCode. A taken name is never replaced:
    // the number moves on to the one nextNumber hands out. Answers the path.
    Result<std::string> commit(std::uint32_t typeCode, std::size_t number,
                               const std::function<std::size_t()>& nextNumber);

private:
    std::string m_directory;
    std::optional<TemporaryFile> m_file; // discarded on destruction unless committed
};

} // namespace tolvane::sim
