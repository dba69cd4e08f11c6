#include "download/routine_test_support.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

using namespace routine_test;

// ---- PTZ image ----

constexpr std::size_t PtzSize = 64660;

TEST_F(DownloadRoutineTest, PtzImageIsSentByteForByte)
{
    const Bytes image = validPtzImageBytes();
    const std::string path = writeBytes(image, "ptz.bin");
    const RoutineOutcome outcome = downloadPtzImage(m_op, path, Target);
    EXPECT_TRUE(m_op.messages().empty());
    ASSERT_EQ(m_op.jobs().size(), 1u);
    EXPECT_EQ(m_op.jobs()[0].typeCode, 0x55AB0008u);
    EXPECT_EQ(m_op.jobs()[0].payloadSize, 64660);
    EXPECT_EQ(m_op.jobs()[0].payload, image);
    EXPECT_TRUE(outcome.succeeded);
}

TEST_F(DownloadRoutineTest, PtzImageAllZeroPasses)
{
    const std::string path = writeBytes(Bytes(PtzSize, 0), "ptz.bin");
    downloadPtzImage(m_op, path, Target);
    EXPECT_TRUE(m_op.messages().empty());
    EXPECT_EQ(m_op.jobs().size(), 1u);
}

Bytes withChangedByte(std::size_t at)
{
    Bytes bytes = validPtzImageBytes();
    bytes[at] ^= 0x40;
    return bytes;
}

Bytes resized(std::size_t size)
{
    Bytes bytes = validPtzImageBytes();
    bytes.resize(size, 0);
    return bytes;
}

class PtzBadInputTest : public DownloadRoutineTest,
                        public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(PtzBadInputTest, ShowsItsMessageAndSendsNothing)
{
    const std::string path = GetParam().make(m_files);
    downloadPtzImage(m_op, path, Target);
    expectRefusedWith(GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PtzBadInputTest,
    ::testing::ValuesIn(afterUnopenableInputs(
        {BadInputCase{"OneByteShort", bytesFile(resized(PtzSize - 1)), MessageId::InvalidPtzImage},
         // The extra byte is 0, so the word sum alone would not notice it.
         BadInputCase{"OneByteLong", bytesFile(resized(PtzSize + 1)), MessageId::InvalidPtzImage},
         BadInputCase{"ChecksumByte", bytesFile(withChangedByte(0)), MessageId::InvalidPtzImage},
         BadInputCase{"ChecksumTopByte", bytesFile(withChangedByte(3)), MessageId::InvalidPtzImage},
         BadInputCase{"FirstDataByte", bytesFile(withChangedByte(4)), MessageId::InvalidPtzImage},
         BadInputCase{"MiddleByte", bytesFile(withChangedByte(33333)), MessageId::InvalidPtzImage},
         BadInputCase{"LastByte", bytesFile(withChangedByte(PtzSize - 1)),
                      MessageId::InvalidPtzImage}})),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(DownloadRoutineTest, FifoGetsItsMessageAtOnceAndNothingIsSent)
{
    const std::string path = m_files.file("pipe.bin");
    ASSERT_TRUE(test::makeFifo(path));
    const UnitIdentity unit{"0012AB34CD56", 1, true, true, false};
    struct Routine {
        const char* name;
        std::function<RoutineOutcome(RecordingOperator&)> run;
        MessageId message;
    };
    const Routine routines[] = {
        {"application",
         [&](RecordingOperator& op) { return downloadApplicationImage(op, path, Target); },
         MessageId::CannotOpenImageFile},
        {"integrated",
         [&](RecordingOperator& op) { return downloadIntegratedImage(op, path, Target, unit); },
         MessageId::NoImageFile},
        {"ptz", [&](RecordingOperator& op) { return downloadPtzImage(op, path, Target); },
         MessageId::CannotOpenImageFile},
    };
    for (const Routine& routine : routines) {
        RecordingOperator op;
        const auto outcome = test::callOnFifo(path, [&] { return routine.run(op); });
        ASSERT_TRUE(outcome.has_value()) << routine.name;
        EXPECT_FALSE(outcome->succeeded) << routine.name;
        EXPECT_EQ(op.messages(), std::vector<MessageId>{routine.message}) << routine.name;
        EXPECT_TRUE(op.jobs().empty()) << routine.name;
    }
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

} // namespace
} // namespace tolvane
