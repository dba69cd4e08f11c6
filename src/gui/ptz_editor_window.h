#pragma once

#include "core/ptz/ptz_protocol.h"

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QListWidget;

namespace tolvane {

class DigitEdit;
class HexByteEdit;
class Prompter;
class PtzProtocolList;

// The "PTZ Data Editor": edits its own copy of one protocol record, one command at a time. The
// caller takes record() back only when exec() ends with Accepted.
class PtzEditorWindow : public QDialog {
    Q_OBJECT
public:
    // Adding: the number is free to choose but may not be one the database holds.
    // Modifying: the number is fixed.
    enum class Mode { Adding, Modifying };
    static constexpr int SettingCount = 11;
    static constexpr int CommandByteCount = 32;

    PtzEditorWindow(Prompter& prompter, const PtzProtocol& record, const PtzProtocolList& database,
                    Mode mode, QWidget* parent = nullptr);
    ~PtzEditorWindow() override;

    const PtzProtocol& record() const { return m_record; }

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void commandSelected(int index);
    void restoreDefaults();
    void applyToAllCommands();

private:
    // What each control holds, apart from the control's own text.
    struct FieldValues {
        std::int32_t number = 0;
        QString name;
        std::int32_t baudRate = 0;
        int parity = -1; // choice indexes; -1 is no choice
        int dataBits = -1;
        int stopBits = -1;
        int enable = -1;
        bool restoreShownOnly = false;
        std::array<QString, SettingCount> settings;
        std::array<QString, CommandByteCount> bytes;
    };

    void buildControls();
    QGroupBox* buildProtocolGroup();
    QGroupBox* buildCommandGroup();
    QLayout* buildSettingColumns();
    QLayout* buildCommandGrid();

    // Reads every control into its field value; a number or baud rate that is not a decimal
    // integer keeps its old value, is told and gets the focus.
    bool readControls();
    // A field that does not read is told (once per reading: tell is false after a first failure).
    bool readInteger(QLineEdit* field, std::int32_t& value, bool tell);
    void showValues();
    void loadHeader(const PtzProtocol& record);
    void showCommand(int index);
    void storeCommand(int index);
    void storeCommandFields(int index);
    void storeHeader();

    Prompter& m_prompter;
    const PtzProtocolList& m_database;
    const Mode m_mode;
    PtzProtocol m_record;
    PtzProtocol m_snapshot;
    int m_shownIndex = 0;
    FieldValues m_fields;

    DigitEdit* m_numberEdit = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_baudRateEdit = nullptr;
    QComboBox* m_parityCombo = nullptr;
    QComboBox* m_dataBitsCombo = nullptr;
    QComboBox* m_stopBitsCombo = nullptr;
    QListWidget* m_commandList = nullptr;
    QCheckBox* m_restoreShownOnlyBox = nullptr;
    QComboBox* m_enableCombo = nullptr;
    std::array<HexByteEdit*, SettingCount> m_settingEdits{};
    std::array<HexByteEdit*, CommandByteCount> m_byteEdits{};
};

} // namespace tolvane
