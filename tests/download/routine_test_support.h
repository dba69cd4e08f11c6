#pragma once

// What the download routine tests share: a fixture with its own temporary folders and a recording
// operator, and small makers of inputs.

#include "core/download/download_routines.h"
#include "support/child_process.h"
#include "support/fifo_guard.h"
#include "support/firmware_image.h"
#include "support/ptz_image_bytes.h"
#include "support/recording_operator.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tolvane::routine_test {

using test::FirmwareImageBuilder;
using test::readFileBytes;
using test::RecordingOperator;
using test::ScopedEnvironment;
using test::TempDir;
using test::validPtzImageBytes;
using test::writeFileBytes;
using Bytes = std::vector<std::uint8_t>;
using Layout = FirmwareImageBuilder::Layout;

inline constexpr std::uint32_t VersionCode = 0x55AB0009;
inline constexpr std::uint32_t IntegratedCode = 0x55AB0001;
inline constexpr std::uint32_t ApplicationCode = 0x55AB0003;
inline const DownloadTarget Target{"127.0.0.1", 5123};

// Every routine test runs with its own temporary folder, so a copy left behind is seen.
class DownloadRoutineTest : public ::testing::Test {
protected:
    DownloadRoutineTest() : m_tmpdir("TMPDIR", m_temporary.path()) {}

    std::string writeImage(const FirmwareImageBuilder& builder,
                           const std::string& name = "image.bin")
    {
        const std::string path = m_files.file(name);
        builder.writeTo(path);
        return path;
    }

    std::string writeBytes(const Bytes& bytes, const std::string& name = "file.bin")
    {
        const std::string path = m_files.file(name);
        writeFileBytes(path, bytes);
        return path;
    }

    // What a refused input leaves: the one message, and no transfer.
    void expectRefusedWith(MessageId message) const
    {
        EXPECT_EQ(m_op.messages(), std::vector<MessageId>{message});
        EXPECT_TRUE(m_op.jobs().empty());
    }

    // Runs the routine as an unprivileged user (root reads any file) and expects it refused with
    // the one message and nothing sent.
    void expectRefusedAsOrdinaryUser(const std::function<void(RecordingOperator&)>& routine,
                                     MessageId message)
    {
        ASSERT_EQ(::chmod(m_files.path().c_str(), 0755), 0);
        const int result = test::runAsOrdinaryUser([&] {
            RecordingOperator op;
            routine(op);
            return op.messages() == std::vector<MessageId>{message} && op.jobs().empty() ? 0 : 1;
        });
        EXPECT_EQ(result, 0) << "(" << test::CouldNotDropRoot << ": could not drop root)";
    }

    TempDir m_files;
    TempDir m_temporary;
    ScopedEnvironment m_tmpdir;
    RecordingOperator m_op;
};

struct BadInputCase {
    std::string name;
    // Creates the input in the folder and returns its path.
    std::function<std::string(const TempDir&)> make;
    MessageId message;
};

inline std::function<std::string(const TempDir&)> imageFile(FirmwareImageBuilder builder)
{
    return [builder](const TempDir& dir) {
        builder.writeTo(dir.file("image.bin"));
        return dir.file("image.bin");
    };
}

inline std::function<std::string(const TempDir&)> bytesFile(Bytes bytes)
{
    return [bytes](const TempDir& dir) {
        writeFileBytes(dir.file("image.bin"), bytes);
        return dir.file("image.bin");
    };
}

inline std::string missing(const TempDir& dir)
{
    return dir.file("absent.bin");
}

inline std::string folder(const TempDir& dir)
{
    std::filesystem::create_directory(dir.file("folder"));
    return dir.file("folder");
}

// The inputs the application and PTZ image routines cannot open (a missing file, a folder, an
// empty file), followed by a routine's own bad inputs.
inline std::vector<BadInputCase> afterUnopenableInputs(const std::vector<BadInputCase>& own)
{
    std::vector<BadInputCase> cases = {
        {"Missing", missing, MessageId::CannotOpenImageFile},
        {"Directory", folder, MessageId::CannotOpenImageFile},
        {"Empty", bytesFile({}), MessageId::CannotOpenImageFile},
    };
    cases.insert(cases.end(), own.begin(), own.end());
    return cases;
}

inline UnitIdentity identity(std::string mac, std::uint32_t serial, bool sendMac, bool sendSerial,
                             bool autoIncrease = false)
{
    UnitIdentity id;
    id.macText = std::move(mac);
    id.serialNumber = serial;
    id.sendMac = sendMac;
    id.sendSerial = sendSerial;
    id.autoIncrease = autoIncrease;
    return id;
}

inline void putBytes(Bytes& bytes, std::size_t at, std::initializer_list<std::uint8_t> values)
{
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

} // namespace tolvane::routine_test
