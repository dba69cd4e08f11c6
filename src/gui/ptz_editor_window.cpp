#include "gui/ptz_editor_window.h"

#include "core/base/messages.h"
#include "core/ptz/ptz_field_text.h"
#include "core/ptz/ptz_protocol_list.h"
#include "gui/named_combo_box.h"
#include "gui/prompter.h"
#include "gui/ptz_edit_fields.h"
#include "gui/ptz_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tolvane {

namespace {

// The eleven settings of a command as the screen shows them: three columns, each caption with a
// "0x" before its field.
struct SettingControl {
    const char* caption;
    const char* objectName;
    std::uint8_t PtzCommand::*member;
    int column;
};

constexpr SettingControl Settings[PtzEditorWindow::SettingCount] = {
    {"Repeat\n Count", "repeatCountEdit", &PtzCommand::repeatCount, 0},
    {"Sender\n Offset", "senderOffsetEdit", &PtzCommand::senderOffset, 0},
    {"Receiver \n Offset", "receiverOffsetEdit", &PtzCommand::receiverOffset, 0},
    {"Checksum\n Offset", "checksumOffsetEdit", &PtzCommand::checksumOffset, 1},
    {"Checksum\n Start Offset", "checksumStartEdit", &PtzCommand::checksumStart, 1},
    {"Checksum\n End Offset", "checksumEndEdit", &PtzCommand::checksumEnd, 1},
    {"Checksum\n Method", "checksumMethodEdit", &PtzCommand::checksumMethod, 1},
    {"Command\n Delay", "commandDelayEdit", &PtzCommand::commandDelay, 2},
    {"Command\n Length", "commandLengthEdit", &PtzCommand::commandLength, 2},
    {"Next\n Command", "nextCommandEdit", &PtzCommand::nextCommand, 2},
    {"Data Format", "dataFormatEdit", &PtzCommand::dataFormat, 2},
};

// The command bytes stand in three rows under the column headers 0-9; the third row holds twelve,
// the last two to the right of column 9.
constexpr int GridColumns = 10;
int gridRow(int byte)
{
    return byte < 2 * GridColumns ? byte / GridColumns : 2;
}
int gridColumn(int byte)
{
    return byte < 2 * GridColumns ? byte % GridColumns : byte - 2 * GridColumns;
}

QString fromStd(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The label beside a field; the field is named after it as a screen reader says it, with line
// breaks and doubled blanks folded.
QLabel* captionFor(QWidget* field, const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setBuddy(field);
    field->setAccessibleName(caption.simplified());
    return label;
}

QComboBox* choiceList(const char* objectName, const QStringList& entries, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(objectName));
    combo->addItems(entries);
    return combo;
}

QStringList choiceTexts(std::string_view (*text)(int), int count)
{
    QStringList texts;
    for (int i = 0; i < count; ++i)
        texts << fromStd(text(i));
    return texts;
}

} // namespace

PtzEditorWindow::PtzEditorWindow(Prompter& prompter, const PtzProtocol& record,
                                 const PtzProtocolList& database, Mode mode, QWidget* parent)
    : QDialog(parent), m_prompter(prompter), m_database(database), m_mode(mode), m_record(record),
      m_snapshot(record)
{
    setObjectName(QStringLiteral("ptzEditorWindow"));
    setWindowTitle(QStringLiteral("PTZ Data Editor"));
    nameComboBoxesByCaption();
    buildControls();

    for (int i = 0; i < PtzProtocol::CommandCount; ++i)
        m_commandList->addItem(fromStd(ptzCommandLabel(i)));
    m_commandList->setCurrentRow(0);
    m_shownIndex = 0;
    connect(m_commandList, &QListWidget::currentRowChanged, this,
            &PtzEditorWindow::commandSelected);
    // A click on the command already shown selects it again: its unsaved edits are dropped.
    connect(m_commandList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { commandSelected(m_commandList->row(item)); });
    // Space is the keyboard's click.
    m_commandList->installEventFilter(this);
    m_numberEdit->setEnabled(m_mode == Mode::Adding);
    // The window opens on its first field, not on OK, which was made first for the layout.
    (m_mode == Mode::Adding ? m_numberEdit : m_nameEdit)->setFocus();

    loadHeader(m_record);
    showCommand(0);
    showValues();
}

PtzEditorWindow::~PtzEditorWindow() = default;

void PtzEditorWindow::buildControls()
{
    auto* okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &PtzEditorWindow::accept);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(cancelButton, &QPushButton::clicked, this, &PtzEditorWindow::reject);

    auto* groups = new QHBoxLayout;
    groups->addWidget(buildProtocolGroup());
    groups->addWidget(buildCommandGroup(), 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addLayout(buttons);
    // Reading order for Tab: the OK and Cancel buttons were made first, for the layout; they
    // come last.
    setTabOrder(m_byteEdits.back(), findChild<QPushButton*>(QStringLiteral("applyToAllButton")));
    setTabOrder(findChild<QPushButton*>(QStringLiteral("applyToAllButton")), okButton);
    setTabOrder(okButton, cancelButton);
}

QGroupBox* PtzEditorWindow::buildProtocolGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Editing PTZ Protocols"), this);
    m_numberEdit = new DigitEdit(group);
    m_numberEdit->setObjectName(QStringLiteral("numberEdit"));
    m_nameEdit = new QLineEdit(group);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_baudRateEdit = new QLineEdit(group);
    m_baudRateEdit->setObjectName(QStringLiteral("baudRateEdit"));
    m_parityCombo =
        choiceList("parityCombo", choiceTexts(parityChoiceText, ParityChoiceCount), group);
    m_dataBitsCombo =
        choiceList("dataBitsCombo", choiceTexts(dataBitsChoiceText, DataBitsChoiceCount), group);
    m_stopBitsCombo =
        choiceList("stopBitsCombo", choiceTexts(stopBitsChoiceText, StopBitsChoiceCount), group);

    auto* header = new QFormLayout;
    header->addRow(captionFor(m_numberEdit, QStringLiteral("Number"), group), m_numberEdit);
    header->addRow(captionFor(m_nameEdit, QStringLiteral("Name"), group), m_nameEdit);
    header->addRow(captionFor(m_baudRateEdit, QStringLiteral("Baud Rate"), group), m_baudRateEdit);
    header->addRow(captionFor(m_parityCombo, QStringLiteral("Parity"), group), m_parityCombo);
    header->addRow(captionFor(m_dataBitsCombo, QStringLiteral("Data Bit"), group), m_dataBitsCombo);
    header->addRow(captionFor(m_stopBitsCombo, QStringLiteral("Stop Bit"), group), m_stopBitsCombo);

    m_commandList = new QListWidget(group);
    m_commandList->setObjectName(QStringLiteral("commandSetList"));
    m_commandList->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* listLabel = captionFor(m_commandList, QStringLiteral("Command Set"), group);

    auto* restoreButton = new QPushButton(QStringLiteral("Return Default Value"), group);
    restoreButton->setObjectName(QStringLiteral("returnDefaultButton"));
    connect(restoreButton, &QPushButton::clicked, this, &PtzEditorWindow::restoreDefaults);
    m_restoreShownOnlyBox =
        new QCheckBox(QStringLiteral("Apply to default value only current selected"), group);
    m_restoreShownOnlyBox->setObjectName(QStringLiteral("restoreShownOnlyBox"));

    auto* layout = new QVBoxLayout(group);
    layout->addLayout(header);
    layout->addWidget(listLabel);
    layout->addWidget(m_commandList, 1);
    layout->addWidget(restoreButton);
    layout->addWidget(m_restoreShownOnlyBox);
    return group;
}

QGroupBox* PtzEditorWindow::buildCommandGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Editing PTZ Commands"), this);
    m_enableCombo = choiceList("enableCombo", {QStringLiteral("Off"), QStringLiteral("On")}, group);
    auto* enableRow = new QHBoxLayout;
    enableRow->addWidget(captionFor(m_enableCombo, QStringLiteral("Enable"), group));
    enableRow->addWidget(m_enableCombo);
    enableRow->addStretch(1);

    auto* applyButton = new QPushButton(QStringLiteral("Apply to \nall commands"), group);
    applyButton->setObjectName(QStringLiteral("applyToAllButton"));
    applyButton->setAccessibleName(QStringLiteral("Apply to all commands"));
    connect(applyButton, &QPushButton::clicked, this, &PtzEditorWindow::applyToAllCommands);

    auto* layout = new QVBoxLayout(group);
    layout->addLayout(enableRow);
    layout->addLayout(buildSettingColumns());
    layout->addLayout(buildCommandGrid());
    layout->addWidget(applyButton, 0, Qt::AlignRight);
    layout->addStretch(1);
    return group;
}

QLayout* PtzEditorWindow::buildSettingColumns()
{
    auto* grid = new QGridLayout;
    int rowInColumn[3] = {};
    for (int i = 0; i < SettingCount; ++i) {
        const SettingControl& setting = Settings[i];
        auto* edit = new HexByteEdit(this);
        edit->setObjectName(QString::fromLatin1(setting.objectName));
        m_settingEdits[static_cast<std::size_t>(i)] = edit;
        auto* caption = captionFor(edit, QString::fromUtf8(setting.caption), this);
        const int row = rowInColumn[setting.column]++;
        const int column = setting.column * 3;
        grid->addWidget(caption, row, column);
        grid->addWidget(new QLabel(QStringLiteral("0x"), this), row, column + 1, Qt::AlignRight);
        grid->addWidget(edit, row, column + 2);
    }
    return grid;
}

QLayout* PtzEditorWindow::buildCommandGrid()
{
    auto* grid = new QGridLayout;
    auto* caption = new QLabel(QStringLiteral("Command\n (Hex)"), this);
    grid->addWidget(caption, 1, 0, 3, 1);
    for (int column = 0; column < GridColumns; ++column)
        grid->addWidget(new QLabel(QString::number(column), this), 0, column + 1, Qt::AlignCenter);
    for (int i = 0; i < CommandByteCount; ++i) {
        auto* edit = new HexByteEdit(this);
        edit->setObjectName(QStringLiteral("commandByte%1").arg(i));
        edit->setAccessibleName(QStringLiteral("Command byte %1").arg(i));
        m_byteEdits[static_cast<std::size_t>(i)] = edit;
        grid->addWidget(edit, gridRow(i) + 1, gridColumn(i) + 1);
    }
    caption->setBuddy(m_byteEdits[0]);
    return grid;
}

bool PtzEditorWindow::readInteger(QLineEdit* field, std::int32_t& value, bool tell)
{
    const auto parsed = parseDecimalInteger(field->text().toStdString());
    if (!parsed) {
        if (!tell)
            return false;
        m_prompter.showMessage(this, MessageId::EnterInteger);
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
        return false;
    }
    value = *parsed;
    return true;
}

bool PtzEditorWindow::readControls()
{
    // Text and choices first, so a number that does not read costs no other edit.
    m_fields.name = m_nameEdit->text();
    m_fields.enable = m_enableCombo->currentIndex();
    for (std::size_t i = 0; i < m_byteEdits.size(); ++i)
        m_fields.bytes[i] = m_byteEdits[i]->text();
    m_fields.restoreShownOnly = m_restoreShownOnlyBox->isChecked();
    m_fields.dataBits = m_dataBitsCombo->currentIndex();
    m_fields.parity = m_parityCombo->currentIndex();
    m_fields.stopBits = m_stopBitsCombo->currentIndex();
    for (std::size_t i = 0; i < m_settingEdits.size(); ++i)
        m_fields.settings[i] = m_settingEdits[i]->text();
    const bool numberRead = readInteger(m_numberEdit, m_fields.number, true);
    const bool baudRateRead = readInteger(m_baudRateEdit, m_fields.baudRate, numberRead);
    return numberRead && baudRateRead;
}

void PtzEditorWindow::showValues()
{
    auto choose = [](QComboBox* combo, int choice) {
        combo->setCurrentIndex(choice >= 0 && choice < combo->count() ? choice : -1);
    };
    m_numberEdit->setText(QString::number(m_fields.number));
    m_nameEdit->setText(m_fields.name);
    m_baudRateEdit->setText(QString::number(m_fields.baudRate));
    choose(m_parityCombo, m_fields.parity);
    choose(m_dataBitsCombo, m_fields.dataBits);
    choose(m_stopBitsCombo, m_fields.stopBits);
    choose(m_enableCombo, m_fields.enable);
    m_restoreShownOnlyBox->setChecked(m_fields.restoreShownOnly);
    for (std::size_t i = 0; i < m_settingEdits.size(); ++i)
        m_settingEdits[i]->setText(m_fields.settings[i]);
    for (std::size_t i = 0; i < m_byteEdits.size(); ++i)
        m_byteEdits[i]->setText(m_fields.bytes[i]);
}

void PtzEditorWindow::loadHeader(const PtzProtocol& record)
{
    m_fields.number = record.number;
    m_fields.name = protocolNameText(record);
    m_fields.parity = parityChoiceFromCode(record.parity);
    m_fields.dataBits = dataBitsChoiceFromCode(record.dataBits);
    m_fields.stopBits = stopBitsChoiceFromCode(record.stopBits);
    m_fields.baudRate = record.baudRate;
}

void PtzEditorWindow::showCommand(int index)
{
    const PtzCommand& command = m_record.commands[static_cast<std::size_t>(index)];
    // An enable byte other than 0 or 1 matches no choice.
    m_fields.enable = command.enable <= 1 ? command.enable : -1;
    for (std::size_t i = 0; i < m_fields.settings.size(); ++i)
        m_fields.settings[i] = QString::fromStdString(hexByteText(command.*Settings[i].member));
    for (std::size_t i = 0; i < m_fields.bytes.size(); ++i)
        m_fields.bytes[i] = QString::fromStdString(hexByteText(command.bytes[i]));
}

void PtzEditorWindow::storeCommand(int index)
{
    // A number or baud rate that does not read is told; the command is stored all the same.
    (void)readControls();
    storeCommandFields(index);
}

void PtzEditorWindow::storeCommandFields(int index)
{
    PtzCommand& command = m_record.commands[static_cast<std::size_t>(index)];
    command.enable = static_cast<std::uint8_t>(m_fields.enable < 0 ? 0xFF : m_fields.enable);
    for (std::size_t i = 0; i < m_fields.settings.size(); ++i)
        command.*Settings[i].member = lenientHexByte(m_fields.settings[i].toStdString());
    for (std::size_t i = 0; i < m_fields.bytes.size(); ++i)
        command.bytes[i] = lenientHexByte(m_fields.bytes[i].toStdString());
}

void PtzEditorWindow::storeHeader()
{
    m_record.number = m_fields.number;
    // An untouched name keeps its bytes, whatever their encoding.
    if (m_fields.name != protocolNameText(m_record))
        m_record.setName(nameFieldText(m_fields.name.toStdString()));
    m_record.parity = parityCodeFromChoice(m_fields.parity);
    m_record.dataBits = dataBitsCodeFromChoice(m_fields.dataBits);
    m_record.stopBits = stopBitsCodeFromChoice(m_fields.stopBits);
    m_record.baudRate = m_fields.baudRate;
}

bool PtzEditorWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_commandList && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        commandSelected(m_commandList->currentRow());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void PtzEditorWindow::commandSelected(int index)
{
    if (index < 0 || index >= PtzProtocol::CommandCount)
        return;
    if (index != m_shownIndex)
        storeCommand(m_shownIndex);
    showCommand(index);
    showValues();
    m_shownIndex = index;
}

void PtzEditorWindow::restoreDefaults()
{
    const int selected = m_commandList->currentRow();
    (void)readControls();
    if (m_fields.restoreShownOnly) {
        if (selected >= 0) {
            m_record.commands[static_cast<std::size_t>(selected)] =
                m_snapshot.commands[static_cast<std::size_t>(selected)];
            showCommand(selected);
        }
    } else if (m_prompter.askYesNo(this, messageQString(MessageId::ConfirmRestoreDefaults))) {
        m_record = m_snapshot;
        loadHeader(m_record);
        if (selected >= 0)
            showCommand(selected);
    }
    showValues();
}

void PtzEditorWindow::applyToAllCommands()
{
    if (!m_prompter.askYesNo(this, messageQString(MessageId::ConfirmApplyToAllCommands)))
        return;
    storeCommand(0);
    for (std::size_t i = 1; i < m_record.commands.size(); ++i)
        m_record.commands[i] = m_record.commands[0];
}

void PtzEditorWindow::accept()
{
    if (!readControls())
        return;
    if (m_mode == Mode::Adding && m_database.Contains(m_fields.number)) {
        m_prompter.showMessage(this, MessageId::ProtocolNumberExists);
        return;
    }
    storeHeader();
    const int selected = m_commandList->currentRow();
    if (selected >= 0)
        storeCommandFields(selected);
    QDialog::accept();
}

} // namespace tolvane
