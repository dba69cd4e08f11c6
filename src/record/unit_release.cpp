#include "record/unit_release.h"

#include "record/unit_record.h"

namespace tolvane::record {

Result<RecordEntry> releaseInto(UnitsTable& units, const RecordEntry& request,
                                const std::string& location)
{
    const Identity identity = request.mac ? Identity::Mac : Identity::Serial;
    const std::string named = identityText(identity, request);
    const auto holder = units.holder(identity, identityValue(request, identity));
    if (!holder)
        return holder.failure();
    if (!*holder)
        return Failure(0, named + " is held by no unit in " + location + "; nothing released");
    const RecordEntry& held = **holder;
    if (held.result == ResultOk)
        return Failure(0, named + " belongs to " + heldByText(held, location) +
                              "; a unit that succeeded keeps it, so nothing is released");
    // The release is a row of the unit that held it, so the unit's rows tell its whole story.
    RecordEntry released = held;
    released.time = request.time;
    released.result = ResultReleased;
    released.message = request.message;
    released.durationSeconds = 0;
    released.bench = request.bench;
    released.operatorName = request.operatorName;
    released.toolVersion = request.toolVersion;
    if (auto added = units.add(released); !added)
        return added.failure();
    return held;
}

} // namespace tolvane::record
