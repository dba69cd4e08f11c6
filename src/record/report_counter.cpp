#include "record/report_counter.h"

#include "record/record_entry.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <tuple>

namespace tolvane::record {

namespace {

// Set in the key of a device known by its text rather than by a MAC's number.
constexpr std::uint64_t TextKey = std::uint64_t{1} << 62;
constexpr std::uint64_t Sent = 1; // neither refused nor only pending
constexpr std::uint64_t Succeeded = 2;

// The count kept under key, added to the map the first time.
template <typename Map> auto& countOf(Map& map, std::string_view key)
{
    auto found = map.find(key);
    if (found == map.end())
        found = map.emplace(std::string(key), typename Map::mapped_type{}).first;
    return found->second;
}

std::optional<std::string> kept(std::optional<std::string_view> text)
{
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

// Keeps the first count items by order.
template <typename Item, typename Order>
void keepFirst(std::vector<Item>& items, std::size_t count, Order order)
{
    const auto kept = std::min(count, items.size());
    std::partial_sort(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(kept), items.end(),
                      order);
    items.resize(kept);
}

// A duration to the nearest tenth of a second, a half up; one beyond any real one is kept within
// range rather than overflowing.
std::int64_t tenthsOf(double seconds)
{
    const double tenths = std::floor(seconds * 10 + 0.5);
    constexpr double Limit = 1e18;
    return std::isfinite(tenths) ? static_cast<std::int64_t>(std::clamp(tenths, -Limit, Limit)) : 0;
}

bool byMac(const ReportFigures::HeldMac& a, const ReportFigures::HeldMac& b)
{
    return a.mac < b.mac;
}

} // namespace

std::optional<std::uint64_t> macNumber(std::string_view mac)
{
    std::uint64_t number = 0;
    if (mac.size() != 12)
        return std::nullopt;
    for (const char c : mac) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return std::nullopt;
        number = number << 4 | static_cast<std::uint64_t>(digit);
    }
    return number;
}

std::string macText(std::uint64_t number)
{
    static const char* const Digits = "0123456789ABCDEF";
    std::string text(12, '0');
    for (int i = 11; i >= 0; --i, number >>= 4)
        text[static_cast<std::size_t>(i)] = Digits[number & 0xF];
    return text;
}

// The total a state counts in; null for a state the record does not know.
std::int64_t* totalOf(ReportFigures::Totals& totals, std::string_view state)
{
    for (auto [name, total] : {std::pair{ResultOk, &totals.ok},
                               {ResultFailed, &totals.failed},
                               {ResultUnconfirmed, &totals.unconfirmed},
                               {ResultRefused, &totals.refused},
                               {ResultReleased, &totals.released},
                               {ResultPending, &totals.pending}}) {
        if (state == name)
            return total;
    }
    return nullptr;
}

void ReportCounter::add(const UnitState& unit)
{
    auto& totals = m_figures.totals;
    ++totals.units;
    std::int64_t* const total = totalOf(totals, unit.state);
    if (total)
        ++*total;
    const bool ok = total == &totals.ok;
    const bool unconfirmed = total == &totals.unconfirmed;
    const bool sent = total != &totals.refused && total != &totals.pending;
    // Units come mostly in the order they were written, so hour after hour.
    if (m_lastHour == m_hours.end() || m_lastHour->first != unit.hour)
        m_lastHour = m_hours.try_emplace(std::string(unit.hour)).first;
    ++countOf(m_lastHour->second, unit.state);
    auto& bench = countOf(m_benches, unit.bench);
    ++bench.units;
    bench.ok += ok ? 1 : 0;
    if (sent)
        ++bench.tenths[tenthsOf(unit.durationSeconds)];
    if (total == &totals.failed || unconfirmed)
        ++countOf(m_failures, unit.message);
    if (unit.version || unit.sha256)
        ++countOfImage(unit.version, unit.sha256);

    if (unconfirmed && unit.macInUse && unit.mac)
        hold(unit);
    if (total == &totals.refused)
        return;
    // The flags go below the id, so units sort by id within a device. A device known by its text
    // (a serial, a unit, a MAC that is not twelve hex digits) is keyed by the text's 62-bit hash:
    // two devices of 10^6 share one with a chance of about 10^-7.
    const std::uint64_t idAndFlags =
        static_cast<std::uint64_t>(unit.id) << 2 | (sent ? Sent : 0) | (ok ? Succeeded : 0);
    const auto mac = unit.mac ? macNumber(*unit.mac) : std::nullopt;
    m_deviceUnits.push_back(
        {mac ? *mac : TextKey | (std::hash<std::string_view>{}(unit.device) & (TextKey - 1)),
         idAndFlags});
}

// Units of one image mostly follow each other, so the last one's count is tried first.
std::int64_t& ReportCounter::countOfImage(std::optional<std::string_view> version,
                                          std::optional<std::string_view> sha256)
{
    if (m_lastImage == m_images.end() || m_lastImage->first.first != version ||
        m_lastImage->first.second != sha256)
        m_lastImage = m_images.try_emplace({kept(version), kept(sha256)}).first;
    return m_lastImage->second;
}

// Keeps the MaxListed lowest MACs held, in a heap with the highest on top.
void ReportCounter::hold(const UnitState& unit)
{
    ++m_figures.heldCount;
    auto& held = m_figures.held;
    held.push_back(
        {std::string(*unit.mac),
         unit.serial ? std::optional(static_cast<std::uint32_t>(*unit.serial)) : std::nullopt,
         std::string(unit.unit), std::string(unit.target), std::string(unit.time)});
    std::push_heap(held.begin(), held.end(), byMac);
    if (held.size() > ReportFigures::MaxListed) {
        std::pop_heap(held.begin(), held.end(), byMac);
        held.pop_back();
    }
}

// Each device's units in the order they were written: the device passed first time when its
// first unit sent something succeeded. The MACs come in order, so their runs are found on the way.
void ReportCounter::countDevices(ReportFigures& figures)
{
    std::sort(m_deviceUnits.begin(), m_deviceUnits.end(), [](const auto& a, const auto& b) {
        return std::tie(a.key, a.idAndFlags) < std::tie(b.key, b.idAndFlags);
    });
    std::optional<std::uint64_t> previousMac;
    for (std::size_t i = 0; i < m_deviceUnits.size();) {
        const std::uint64_t key = m_deviceUnits[i].key;
        bool counted = false;
        for (; i < m_deviceUnits.size() && m_deviceUnits[i].key == key; ++i) {
            if (!counted && (m_deviceUnits[i].idAndFlags & Sent)) {
                counted = true;
                ++figures.firstPassDevices;
                figures.firstPassOk += (m_deviceUnits[i].idAndFlags & Succeeded) ? 1 : 0;
            }
        }
        if (key & TextKey)
            continue;
        if (previousMac && key == *previousMac + 1) {
            if (figures.macRangeCount <= ReportFigures::MaxListed) {
                figures.macRanges.back().last = macText(key);
                ++figures.macRanges.back().count;
            }
        } else if (++figures.macRangeCount <= ReportFigures::MaxListed) {
            figures.macRanges.push_back({macText(key), macText(key), 1});
        }
        previousMac = key;
    }
    m_deviceUnits = {};
}

// The middle of the durations; of an even number of them, halfway between the middle two.
std::optional<double> ReportCounter::median(const std::map<std::int64_t, std::int64_t>& tenths)
{
    std::int64_t sent = 0;
    for (const auto& [value, units] : tenths)
        sent += units;
    if (sent == 0)
        return std::nullopt;
    std::optional<std::int64_t> low, high;
    std::int64_t upto = 0;
    for (const auto& [value, units] : tenths) {
        upto += units;
        if (!low && upto >= (sent + 1) / 2)
            low = value;
        if (!high && upto >= (sent + 2) / 2)
            high = value;
    }
    return static_cast<double>(*low + *high) / 20;
}

ReportFigures ReportCounter::figures()
{
    ReportFigures figures = std::move(m_figures);
    for (const auto& [hour, states] : m_hours) {
        for (const auto& [state, units] : states)
            figures.hours.push_back({hour, state, units});
    }
    for (const auto& [name, bench] : m_benches)
        figures.benches.push_back({name, bench.units, bench.ok, median(bench.tenths)});
    for (const auto& [message, units] : m_failures)
        figures.failures.push_back({message, units});
    keepFirst(figures.failures, ReportFigures::MaxMessages, [](const auto& a, const auto& b) {
        return std::tie(b.units, a.message) < std::tie(a.units, b.message);
    });
    for (const auto& [image, units] : m_images)
        figures.images.push_back({image.first, image.second, units});
    keepFirst(figures.images, ReportFigures::MaxListed, [](const auto& a, const auto& b) {
        return std::tie(b.units, a.version, a.sha256) < std::tie(a.units, b.version, b.sha256);
    });
    std::sort_heap(figures.held.begin(), figures.held.end(), byMac);
    countDevices(figures);
    return figures;
}

} // namespace tolvane::record
