#pragma once

#include "core/download/download_routines.h"
#include "core/transfer/download_job.h"
#include "record/production_record.h"
#include "record/record_entry.h"
#include "service/mac_counter.h"
#include "service/unit_observer.h"
#include "service/unit_outcome.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace tolvane {
namespace service {

class UnitMessages;
class UnitRow;

using DownloadRunner =
    std::function<RoutineOutcome(DownloadType, const DownloadInputs&, DownloadOperator&)>;
// A front end's words for a refusal: shown for the unit, and kept as its row's message.
using RefusalWording = std::function<std::string(const Refusal&)>;
// A front end's words for an unconfirmed unit, given the service's text naming what stays held.
using HeldWording = std::function<std::string(const std::string&)>;

// One unit of a run: where it is and the identity it is sent.
struct UnitRequest {
    DownloadTarget target;
    UnitIdentity identity; // used by the integrated image and individual data
};

// What every unit of a run shares.
struct DownloadPlan {
    DownloadType type = DownloadType::ApplicationImage;
    std::string file; // the image sent; not used for individual data
    // Without a record nothing is reserved or written. It must outlive the service.
    record::ProductionRecord* record = nullptr;
    bool allowReusedMac = false;
    bool allowReusedSerial = false;
    std::optional<std::string> bench; // the bench the rows name, when not this host's
    // With a record: every unit that sends a MAC address takes the next free one from a counter
    // the run shares, starting here, instead of its own; a unit that also sends a serial number
    // takes it likewise from freeSerialsFrom on, when given.
    std::optional<std::string> freeMacsFrom;
    std::optional<std::uint32_t> freeSerialsFrom;
    RefusalWording wording;
    HeldWording heldWording;
    DownloadRunner run = runDownload;
};

struct BatchOptions {
    int jobs = 1; // units at once
    DownloadDeadlines deadlines;
};

struct BatchOutcome {
    // By unit; nothing for a unit that did not start because the run was stopped.
    std::vector<std::optional<UnitOutcome>> units;
    // With DownloadPlan::freeMacsFrom: the address after the last one that went out (ok or
    // unconfirmed), or freeMacsFrom when none did; likewise the serial number.
    std::optional<std::string> nextFreeMac;
    std::optional<std::uint32_t> nextFreeSerial;
};

// A recorded download, the same for every front end: each unit's MAC address is reserved in the
// production record (or the next free one taken) before it can go out, the routine of the type
// runs, and the unit's outcome is written. Failures reach the front end as texts through the
// observer and in the outcomes; a routine that throws ends its unit with "Download stopped: ...".
class DownloadService {
public:
    explicit DownloadService(DownloadPlan plan);

    // One unit on the calling thread, as unit 0, through the front end's own operator.
    UnitOutcome runUnit(const UnitRequest& unit, DownloadOperator& op, UnitObserver& observer);
    // The units on up to options.jobs threads, each sending through an operator of the service
    // that runs the worker on the unit's thread. Once stop is requested no further unit starts;
    // those running finish.
    BatchOutcome runBatch(const std::vector<UnitRequest>& units, const BatchOptions& options,
                          UnitObserver& observer, std::stop_token stop = {});

private:
    UnitOutcome runSequence(const UnitRequest& unit, DownloadOperator& op, UnitMessages& messages);
    record::RecordEntry rowFields(const UnitRequest& unit) const;
    bool reserveIdentity(UnitRow& row, DownloadInputs& inputs, UnitOutcome& outcome,
                         UnitMessages& messages);
    bool reserveNextFree(UnitRow& row, DownloadInputs& inputs, UnitOutcome& outcome,
                         UnitMessages& messages);
    void refuse(Refusal::Reason reason, const std::string& mac, const std::string& detail,
                UnitMessages& messages) const;
    void refuseReservation(const record::Reservation& refused, const UnitRow& row,
                           const UnitOutcome& outcome, UnitMessages& messages) const;
    void tellHeld(const UnitRow& row, UnitOutcome& outcome, UnitMessages& messages) const;
    void nextFree(BatchOutcome& batch) const;

    DownloadPlan m_plan;
    std::optional<std::string> m_fileDigest; // with a record, when the type sends a file
    std::optional<MacCounter> m_freeMacs;
    std::optional<SerialCounter> m_freeSerials;
};

} // namespace service
} // namespace tolvane
