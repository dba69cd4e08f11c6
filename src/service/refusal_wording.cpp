#include "service/refusal_wording.h"

namespace tolvane::service {

std::string refusalText(const Refusal& refusal)
{
    switch (refusal.reason) {
    case Refusal::Reason::MacUsed:
        return refusal.detail + "; not sent (--allow-reused-mac sends it).";
    case Refusal::Reason::SerialUsed:
        return refusal.detail + "; not sent (--allow-reused-serial sends it).";
    case Refusal::Reason::RecordFailed:
        return refusal.detail + "; MAC address " + refusal.mac + " not sent.";
    case Refusal::Reason::NoFreeMac: return refusal.detail + "; nothing sent.";
    }
    return refusal.detail;
}

std::string plainRefusalText(const Refusal& refusal)
{
    if (refusal.reason == Refusal::Reason::MacUsed || refusal.reason == Refusal::Reason::SerialUsed)
        return refusal.detail + "; not sent.";
    return refusalText(refusal);
}

} // namespace tolvane::service
