#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::cli {

enum class ProgressStyle {
    None,     // messages only
    Plain,    // a line on each stage change and every 25 %
    Terminal, // one line per unit, redrawn in place
};

// The operator's view of one or several downloads on stderr: the system's messages and the
// progress of each unit. Units report from their own threads; output is serialised here.
class ProgressBoard {
public:
    // labels: one per unit ("HOST:PORT"). With several units every line names its unit.
    ProgressBoard(std::ostream& err, ProgressStyle style, std::vector<std::string> labels,
                  int terminalColumns = 80);

    void message(std::size_t unit, std::string_view text);
    void transferStarted(std::size_t unit, std::uint32_t typeCode);
    void stage(std::size_t unit, int stage);
    void progress(std::size_t unit, int percent);
    void finished(std::size_t unit, bool succeeded);
    // Ends the in-place display; later output goes below it.
    void close();

    ProgressStyle style() const { return m_style; }

private:
    struct UnitState {
        std::string transfer;
        std::string status;
        int percent = 0;
        int lastPlainQuarter = 0;
        bool started = false;
    };

    std::string prefix(std::size_t unit) const;
    std::string terminalLine(std::size_t unit) const;
    void drawLine(std::size_t unit);
    void drawAll();
    void plain(std::size_t unit, const std::string& text);

    std::ostream& m_err;
    ProgressStyle m_style;
    std::vector<std::string> m_labels;
    std::vector<UnitState> m_units;
    std::size_t m_labelWidth = 0;
    int m_columns;
    bool m_drawn = false;
    std::mutex m_mutex;
};

// What a transfer of the type code is called on screen.
std::string_view transferName(std::uint32_t typeCode);

} // namespace tolvane::cli
