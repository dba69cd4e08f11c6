#include "service/mac_counter.h"

namespace tolvane::service {

std::string MacCounter::take()
{
    std::lock_guard lock(m_mutex);
    const std::string mac = formatMacAddress(m_next);
    m_next = advanceMacAddress(m_next);
    return mac;
}

std::string MacCounter::next() const
{
    std::lock_guard lock(m_mutex);
    return formatMacAddress(m_next);
}

std::uint32_t SerialCounter::take()
{
    std::lock_guard lock(m_mutex);
    return m_next++;
}

} // namespace tolvane::service
