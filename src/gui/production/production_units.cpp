#include "gui/production/production_units.h"

#include "core/image/mac_address.h"

namespace tolvane {

UnitIdentity identityAt(std::size_t index, const std::string& firstMac, bool sendMac,
                        std::uint32_t firstSerial, bool sendSerial)
{
    UnitIdentity identity;
    identity.sendMac = sendMac;
    identity.sendSerial = sendSerial;
    identity.autoIncrease = false; // the run counts the addresses, not the routine
    identity.serialNumber = firstSerial + static_cast<std::uint32_t>(index);
    if (sendMac && isValidMacText(firstMac)) {
        MacPair pair = splitMacAddress(firstMac);
        for (std::size_t i = 0; i < index; ++i)
            pair = advanceMacAddress(pair);
        identity.macText = formatMacAddress(pair);
    }
    return identity;
}

UnitIdentity identityAgain(const std::optional<std::string>& mac,
                           const std::optional<std::uint32_t>& serial, bool sendMac,
                           bool sendSerial)
{
    UnitIdentity identity;
    identity.sendMac = sendMac;
    identity.sendSerial = sendSerial;
    identity.autoIncrease = false;
    identity.macText = mac.value_or(std::string());
    identity.serialNumber = serial.value_or(0);
    return identity;
}

} // namespace tolvane
