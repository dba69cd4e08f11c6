// The demo files that make run offers, and the paced simulator it starts.
#include "core/download/download_routines.h"
#include "core/image/image_version.h"
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"
#include "core/transfer/download_worker.h"
#include "core/transfer/wire_words.h"
#include "sim/demo_files.h"
#include "sim/simulator.h"
#include "support/loopback_simulator.h"
#include "support/transfer_test_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes readAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        bytes.clear();
    return bytes;
}

class DemoFiles : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/tolvane-demo-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        s_root = pattern;
        s_directory = s_root + "/not/yet/there"; // the writer makes the folders
        const auto written = sim::writeDemoFiles(s_directory);
        ASSERT_TRUE(written) << written.failure().text();
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(s_root); }

    static std::string path(const char* name) { return s_directory + "/" + name; }

    static inline std::string s_root;
    static inline std::string s_directory;
};

TEST_F(DemoFiles, FirmwareImagesCarryVersion351InTheirOwnLayout)
{
    std::ostringstream diagnostics;
    const std::string application = path(sim::DemoApplicationImageName);
    const std::string integrated = path(sim::DemoIntegratedImageName);
    EXPECT_EQ(readImageVersion(application, true, diagnostics), 0x03050100);
    EXPECT_EQ(readImageVersion(integrated, false, diagnostics), 0x03050100);
    // Each is only readable in its own layout.
    EXPECT_EQ(readImageVersion(application, false, diagnostics), VersionImageInvalid);
    EXPECT_EQ(readImageVersion(integrated, true, diagnostics), VersionImageInvalid);

    // The header's first word is the member's length; the member starts with the gzip magic.
    for (const auto& [file, shift] :
         {std::pair{application, 0u}, std::pair{integrated, 0x10000u}}) {
        SCOPED_TRACE(file);
        const Bytes bytes = readAll(file);
        ASSERT_GT(bytes.size(), 4u * 1024 * 1024); // big enough for the bar to move
        const std::size_t header = 0xCF80 + shift, member = 0xD000 + shift;
        const std::uint32_t length = bytes[header] | bytes[header + 1] << 8 |
                                     bytes[header + 2] << 16 |
                                     static_cast<std::uint32_t>(bytes[header + 3]) << 24;
        EXPECT_GT(length, 18u);
        EXPECT_LE(member + length, bytes.size());
        EXPECT_EQ(bytes[member], 0x1F);
        EXPECT_EQ(bytes[member + 1], 0x8B);
        EXPECT_EQ(bytes[member + 2], 8); // deflate
    }
}

TEST_F(DemoFiles, PtzImageIsValidAndHoldsTheDatabasesThreeProtocols)
{
    const Bytes image = readAll(path(sim::DemoPtzImageName));
    EXPECT_EQ(image.size(), 64660u);
    EXPECT_TRUE(PtzImage::IsValidFile(image.data(), image.size()));

    PtzProtocolList list;
    const auto loaded = list.load(path(sim::DemoProtocolDatabaseName));
    ASSERT_TRUE(loaded) << loaded.failure().text();
    ASSERT_EQ(list.GetCount(), 3);
    const std::string names[] = {"Pelco-D", "Pelco-P", "Samsung"};
    for (int i = 0; i < 3; ++i) {
        PtzProtocol record;
        ASSERT_TRUE(list.GetAt(i, record));
        EXPECT_EQ(record.number, i);
        EXPECT_EQ(record.nameText(), names[i]);
        // The same record, byte for byte, in slot i of the image.
        const auto bytes = record.toBytes();
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.begin() + 4 + 1796 * i));
    }
    // Slot 3 is empty: its number reads -1.
    EXPECT_EQ(Bytes(image.begin() + 4 + 1796 * 3, image.begin() + 4 + 1796 * 3 + 4),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

sim::SimulatorOptions paced(std::uint64_t bytesPerSecond)
{
    sim::SimulatorOptions options = test::loopbackOptions();
    options.readBytesPerSecond = bytesPerSecond;
    return options;
}

TEST(PacedSimulator, ReceivesThePayloadByteForByte)
{
    sim::Simulator simulator(paced(1024 * 1024));
    ASSERT_TRUE(simulator.start());
    const Bytes payload = test::patternPayload(150'001); // not a whole number of slices
    test::RecordingObserver observer;
    const DownloadJob job = test::makeJob(simulator.port(), TypeCode::ApplicationImage, payload);
    EXPECT_EQ(DownloadWorker(job, observer).run(), 0);

    ASSERT_TRUE(simulator.waitForTransfers(1, 10s));
    const auto seen = simulator.transfers().at(0);
    EXPECT_EQ(seen.outcome, "ok");
    EXPECT_TRUE(seen.payload == payload);
}

TEST(PacedSimulator, StopEndsAPacedReadInsteadOfWaitingItOut)
{
    // At 1 KiB/s this payload would take a minute; stop() must not wait for it.
    sim::Simulator simulator(paced(1024));
    ASSERT_TRUE(simulator.start());
    const int fd = test::connectToLoopback(simulator.port());
    ASSERT_GE(fd, 0);
    const std::uint8_t handshake[] = {0x55, 0xAB, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00}; // 64 KiB
    std::uint8_t answer[8];
    ASSERT_EQ(::send(fd, handshake, 4, MSG_NOSIGNAL), 4);
    ASSERT_EQ(::recv(fd, answer, 4, MSG_WAITALL), 4);
    ASSERT_EQ(::send(fd, handshake + 4, 4, MSG_NOSIGNAL), 4);
    ASSERT_EQ(::recv(fd, answer + 4, 4, MSG_WAITALL), 4);
    const Bytes payload(64 * 1024, 0x5A);
    ASSERT_GT(::send(fd, payload.data(), payload.size(), MSG_NOSIGNAL | MSG_DONTWAIT), 0);

    simulator.stop();
    ::close(fd);
    const auto seen = simulator.transfers();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].outcome.rfind("stopped after ", 0), 0u) << seen[0].outcome;
    EXPECT_LT(seen[0].payload.size(), payload.size());
}

} // namespace
} // namespace tolvane
