#pragma once

#include "service/unit_outcome.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane::service {

// What a front end hears of each unit of a run, by the unit's index in the run.
//
// Threads: every call about a unit comes from the thread that runs it, in order: the caller's
// thread for DownloadService::runUnit and for a batch run with one job, the batch's own threads
// otherwise. Calls about different units may come at the same time, so a front end that draws
// them serialises them itself (the progress board locks; a window queues them to its own thread).
class UnitObserver {
public:
    virtual ~UnitObserver() = default;

    virtual void unitStarted(std::size_t /*unit*/) {}
    // A text shown for the unit: the service's own (a refusal, a stop), and in a batch every
    // message of the routine and its transfers. Through runUnit the routine's messages go to the
    // front end's operator instead. The last text shown is the message the unit's row keeps.
    virtual void message(std::size_t /*unit*/, const std::string& /*text*/) {}
    // A line beside the unit's messages, never kept as its message: the image decoder's
    // diagnostics, what the socket layer said of a failed transfer, a used MAC address passed over.
    virtual void note(std::size_t /*unit*/, const std::string& /*text*/) {}
    // In a batch, as the worker reports them: a transfer starts, its stage, its progress.
    virtual void transferStarted(std::size_t /*unit*/, std::uint32_t /*typeCode*/) {}
    virtual void stage(std::size_t /*unit*/, int /*stage*/) {}
    virtual void progress(std::size_t /*unit*/, int /*percent*/) {}
    // The unit has ended and its outcome is in the record (or outcome.recordFailure says why not).
    virtual void unitFinished(std::size_t /*unit*/, const UnitOutcome& /*outcome*/) {}
};

} // namespace tolvane::service
