#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tolvane::sim {

// The highest number a payload saved in the directory by an earlier run carries, or 0.
std::size_t highestSavedSequenceNumber(const std::string& directory);

// A payload written to disk as it arrives, in a file that has no name (or a hidden temporary
// one where the file system has no unnamed files) until commit() gives it its own,
// directory/NNNN-TYPE.bin. So a payload cut short, or a simulator killed mid-transfer, leaves no
// file that would pass for a received payload.
class IncomingPayloadFile {
public:
    explicit IncomingPayloadFile(std::string directory);
    ~IncomingPayloadFile(); // discards what was not committed
    IncomingPayloadFile(const IncomingPayloadFile&) = delete;
    IncomingPayloadFile& operator=(const IncomingPayloadFile&) = delete;

    bool open();
    // Once a write fails the file is dropped and every further call does nothing.
    void write(const std::uint8_t* data, std::size_t size);
    // Flushes the file and names it after number and typeCode. A taken name is never replaced:
    // the number moves on to the one nextNumber hands out. Answers the path, or "" when it
    // could not.
    std::string commit(std::uint32_t typeCode, std::size_t number,
                       const std::function<std::size_t()>& nextNumber);

private:
    // Gives the file the name path unless that is taken; errno tells why not.
    bool nameAs(const std::string& path);
    void discard();

    std::string m_directory;
    std::string m_tempPath; // only for a named temporary file
    int m_fd = -1;
};

} // namespace tolvane::sim
