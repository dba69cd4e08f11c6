// An image cut short while it is mapped for sending: the send fails with error 7 (the kernel's copy
// from the mapping meets EFAULT where a read would raise SIGBUS) and the operator hears it once.
#include "core/transfer/download_observer.h"
#include "core/transfer/download_worker.h"
#include "download/routine_test_support.h"
#include "support/deadlines.h"
#include "support/loopback_simulator.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace tolvane {
namespace {

using namespace routine_test;

// Runs each transfer with the real worker, after cutting the chosen file short when the image
// itself is about to go. It never reads the payload itself.
class ShrinkingOperator : public DownloadOperator, private DownloadObserver {
public:
    ShrinkingOperator(std::string victim, off_t cutTo) : m_victim(std::move(victim)), m_cutTo(cutTo)
    {
    }

    void showMessage(MessageId id) override { messages.push_back(id); }
    TransferResult runTransfer(const DownloadJob& job) override
    {
        if (job.typeCode != VersionCode) {
            EXPECT_EQ(::truncate(m_victim.c_str(), m_cutTo), 0) << m_victim;
        }
        DownloadJob timed = job;
        timed.deadlines = test::simulatorDeadlines();
        DownloadWorker worker(timed, *this);
        results.push_back(worker.run());
        details.push_back(worker.failureDetail());
        if (results.back() == WorkerError::None)
            return TransferResult::Ok;
        if (const auto message = messageForWorkerError(results.back()))
            showMessage(*message);
        return TransferResult::Cancel;
    }

    std::vector<MessageId> messages;
    std::vector<int> results;
    std::vector<std::string> details;

private:
    void error(int) override {}
    void stage(int) override {}
    void progress(int) override {}

    std::string m_victim;
    off_t m_cutTo;
};

struct ShrinkCase {
    const char* name;
    bool integrated; // sent from the file's mapping with the unit's identity bytes put in
    off_t cutTo;     // never on a page boundary
};

class ShrinkingImageTest : public DownloadRoutineTest,
                           public ::testing::WithParamInterface<ShrinkCase> {};

TEST_P(ShrinkingImageTest, SendFailsWithErrorSevenAndOneMessage)
{
    sim::Simulator simulator(test::loopbackOptions());
    ASSERT_TRUE(test::startSimulator(simulator));
    const DownloadTarget target{"127.0.0.1", simulator.port()};
    const bool integrated = GetParam().integrated;
    const std::string path =
        writeImage(FirmwareImageBuilder(integrated ? Layout::Integrated : Layout::ApplicationOnly)
                       .version("3.5.1")
                       .trailingBytes(300'000));
    ShrinkingOperator op(path, GetParam().cutTo);

    const RoutineOutcome outcome =
        integrated
            ? downloadIntegratedImage(op, path, target, identity("0012AB34CD56", 1, true, true))
            : downloadApplicationImage(op, path, target);

    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(op.messages, std::vector<MessageId>{MessageId::CannotSend});
    EXPECT_EQ(op.results, (std::vector<int>{0, 7}));
    ASSERT_EQ(op.details.size(), 2u);
    EXPECT_NE(op.details[1].find("Bad address"), std::string::npos) << op.details[1];
    EXPECT_EQ(m_temporary.entryCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, ShrinkingImageTest,
                         ::testing::Values(ShrinkCase{"ApplicationImage", false, 70'001},
                                           ShrinkCase{"IntegratedAfterIdentity", true, 70'001},
                                           ShrinkCase{"IntegratedBeforeIdentity", true, 30'001}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tolvane
