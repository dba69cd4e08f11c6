#include "cli/progress_board.h"

#include "cli/message_lines.h"
#include "core/transfer/wire_words.h"

#include <algorithm>

namespace tolvane::cli {

namespace {

constexpr int BarWidth = 20;

// The progress window's texts for each stage.
std::string_view stageText(int stage)
{
    switch (stage) {
    case 2: return "Downloading...";
    case 3: return "Ready for Downloading...";
    case 4: return "Now, Writing a image.";
    case 5: return "done";
    default: return {};
    }
}

} // namespace

std::string_view transferName(std::uint32_t typeCode)
{
    switch (typeCode) {
    case TypeCode::IntegratedImage: return "integrated image";
    case TypeCode::ApplicationImage: return "app image";
    case TypeCode::MacAddress: return "MAC address";
    case TypeCode::SerialNumber: return "serial number";
    case TypeCode::MacAndSerial: return "MAC and serial";
    case TypeCode::PtzImage: return "PTZ image";
    case TypeCode::FirmwareVersion: return "version check";
    default: return "transfer";
    }
}

ProgressBoard::ProgressBoard(std::ostream& err, ProgressStyle style,
                             std::vector<std::string> labels, int terminalColumns)
    : m_err(err), m_style(style), m_labels(std::move(labels)), m_units(m_labels.size()),
      m_columns(std::max(terminalColumns, 20))
{
    for (const auto& label : m_labels)
        m_labelWidth = std::max(m_labelWidth, label.size());
    for (auto& unit : m_units)
        unit.status = "waiting";
}

std::string ProgressBoard::prefix(std::size_t unit) const
{
    return m_labels.size() > 1 ? m_labels[unit] + ": " : std::string();
}

void ProgressBoard::message(std::size_t unit, std::string_view text)
{
    std::lock_guard lock(m_mutex);
    const std::string line = MessagePrefix + prefix(unit) + std::string(text);
    if (m_style == ProgressStyle::Terminal && m_drawn) {
        // Messages scroll above the block of progress lines, which is then drawn again below.
        m_err << "\x1b[" << m_units.size() << "A\r\x1b[J" << line << "\n";
        m_drawn = false;
        drawAll();
    } else {
        m_err << line << "\n";
    }
    m_err.flush();
}

void ProgressBoard::transferStarted(std::size_t unit, std::uint32_t typeCode)
{
    std::lock_guard lock(m_mutex);
    UnitState& state = m_units[unit];
    state.transfer = std::string(transferName(typeCode));
    state.status = "Connecting...";
    state.percent = 0;
    state.lastPlainQuarter = 0;
    state.started = true;
    if (m_style == ProgressStyle::Plain)
        plain(unit, state.transfer + ": connecting");
    else if (m_style == ProgressStyle::Terminal)
        drawLine(unit);
}

void ProgressBoard::stage(std::size_t unit, int stageNumber)
{
    const std::string_view text = stageText(stageNumber);
    if (text.empty())
        return;
    std::lock_guard lock(m_mutex);
    UnitState& state = m_units[unit];
    state.status = std::string(text);
    if (stageNumber >= 4)
        state.percent = 100;
    if (m_style == ProgressStyle::Plain)
        plain(unit, state.transfer + ": " + state.status);
    else if (m_style == ProgressStyle::Terminal)
        drawLine(unit);
}

void ProgressBoard::progress(std::size_t unit, int percent)
{
    std::lock_guard lock(m_mutex);
    UnitState& state = m_units[unit];
    percent = std::clamp(percent, 0, 100);
    if (percent == state.percent)
        return;
    state.percent = percent;
    if (m_style == ProgressStyle::Plain) {
        const int quarter = percent / 25;
        if (quarter > state.lastPlainQuarter) {
            state.lastPlainQuarter = quarter;
            plain(unit, state.transfer + ": " + std::to_string(quarter * 25) + "%");
        }
    } else if (m_style == ProgressStyle::Terminal) {
        drawLine(unit);
    }
}

void ProgressBoard::finished(std::size_t unit, bool succeeded)
{
    std::lock_guard lock(m_mutex);
    UnitState& state = m_units[unit];
    state.status = succeeded ? "done" : "FAILED";
    if (m_style == ProgressStyle::Terminal)
        drawLine(unit);
}

void ProgressBoard::close()
{
    std::lock_guard lock(m_mutex);
    m_drawn = false;
    m_err.flush();
}

std::string ProgressBoard::terminalLine(std::size_t unit) const
{
    const UnitState& state = m_units[unit];
    std::string line = m_labels[unit];
    line.append(m_labelWidth - line.size() + 1, ' ');
    const int filled = state.percent * BarWidth / 100;
    line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(BarWidth - filled), '.') + "] ";
    std::string percent = std::to_string(state.percent) + "%";
    line += std::string(4 - std::min<std::size_t>(percent.size(), 4), ' ') + percent + " ";
    if (state.started)
        line += state.transfer + ": ";
    line += state.status;
    // A line wider than the terminal would wrap and throw off the cursor movements.
    if (line.size() >= static_cast<std::size_t>(m_columns))
        line.resize(static_cast<std::size_t>(m_columns - 1));
    return line;
}

void ProgressBoard::drawAll()
{
    for (std::size_t i = 0; i < m_units.size(); ++i)
        m_err << "\r\x1b[2K" << terminalLine(i) << "\n";
    m_drawn = true;
}

void ProgressBoard::drawLine(std::size_t unit)
{
    if (!m_drawn) {
        drawAll();
    } else {
        // The cursor rests on the line below the block.
        const std::size_t up = m_units.size() - unit;
        m_err << "\x1b[" << up << "A\r\x1b[2K" << terminalLine(unit) << "\x1b[" << up << "B\r";
    }
    m_err.flush();
}

void ProgressBoard::plain(std::size_t unit, const std::string& text)
{
    m_err << prefix(unit) << text << "\n";
    m_err.flush();
}

} // namespace tolvane::cli
