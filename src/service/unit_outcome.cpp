#include "service/unit_outcome.h"

#include "record/record_entry.h"

namespace tolvane::service {

const char* resultName(UnitResult result)
{
    switch (result) {
    case UnitResult::Ok: return record::ResultOk;
    case UnitResult::Failed: return record::ResultFailed;
    case UnitResult::Refused: return record::ResultRefused;
    case UnitResult::Unconfirmed: return record::ResultUnconfirmed;
    }
    return record::ResultFailed;
}

} // namespace tolvane::service
