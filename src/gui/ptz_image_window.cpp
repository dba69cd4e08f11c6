#include "gui/ptz_image_window.h"

#include "gui/prompter.h"
#include "gui/ptz_text.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tolvane {

namespace {

// Database rows sort by their text, ignoring case, so numbers 0-999 stand in ascending order.
class DatabaseRow : public QListWidgetItem {
public:
    explicit DatabaseRow(const QString& text) : QListWidgetItem(text) {}
    bool operator<(const QListWidgetItem& other) const override
    {
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

QListWidget* rowList(const char* objectName, QWidget* parent)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(objectName));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return list;
}

QLabel* listCaption(const QString& caption, QListWidget* list, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setBuddy(list);
    list->setAccessibleName(caption);
    return label;
}

} // namespace

PtzImageWindow::PtzImageWindow(Prompter& prompter, PtzImageWindowMemory& memory, QWidget* parent)
    : QDialog(parent), m_prompter(prompter), m_memory(memory)
{
    setObjectName(QStringLiteral("ptzImageWindow"));
    setWindowTitle(QStringLiteral("PTZ Data Image Creator"));
    buildControls();
    m_useLatestImageBox->setChecked(m_memory.useLatestImage);
    loadRememberedDatabase();
}

PtzImageWindow::~PtzImageWindow() = default;

QPushButton* PtzImageWindow::addButton(const ButtonRole& wanted)
{
    auto* button = new QPushButton(QString::fromUtf8(wanted.caption), this);
    button->setObjectName(QString::fromLatin1(wanted.objectName));
    connect(button, &QPushButton::clicked, this, wanted.slot);
    return button;
}

// The controls are made in reading order, which is also the order Tab follows: each list, then
// the buttons under it.
void PtzImageWindow::buildControls()
{
    auto* lists = new QHBoxLayout;
    lists->addLayout(buildDatabaseSide(), 1);
    lists->addLayout(buildMoveButtons());
    lists->addLayout(buildTargetSide(), 1);

    m_useLatestImageBox =
        new QCheckBox(QStringLiteral("Select to download image by the lastest saved file"), this);
    m_useLatestImageBox->setObjectName(QStringLiteral("useLatestImageBox"));
    auto* closeButton = addButton({"Close", "closeButton", &PtzImageWindow::accept});
    closeButton->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_useLatestImageBox);
    bottom->addStretch(1);
    bottom->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 1);
    layout->addLayout(bottom);
}

QBoxLayout* PtzImageWindow::buttonRow(std::initializer_list<ButtonRole> buttons)
{
    auto* row = new QHBoxLayout;
    for (const ButtonRole& button : buttons)
        row->addWidget(addButton(button));
    return row;
}

QBoxLayout* PtzImageWindow::buildDatabaseSide()
{
    m_databaseList = rowList("databaseList", this);
    m_databaseList->setSortingEnabled(true);
    auto* side = new QVBoxLayout;
    side->addWidget(listCaption(QStringLiteral("PTZ Protocol Database"), m_databaseList, this));
    side->addWidget(m_databaseList, 1);
    side->addLayout(buttonRow({{"Add...", "addButton", &PtzImageWindow::addProtocol},
                               {"Delete", "deleteButton", &PtzImageWindow::deleteProtocol},
                               {"Modify...", "modifyButton", &PtzImageWindow::modifyProtocol}}));
    side->addLayout(
        buttonRow({{"Load PTZ DB ...", "loadDatabaseButton", &PtzImageWindow::loadDatabase},
                   {"Save PTZ DB ...", "saveDatabaseButton", &PtzImageWindow::saveDatabase}}));
    return side;
}

QBoxLayout* PtzImageWindow::buildMoveButtons()
{
    auto* moves = new QVBoxLayout;
    moves->addStretch(1);
    // Arrows say little read aloud; the description says where the protocol goes.
    QPushButton* copy = addButton({">>", "copyToImageButton", &PtzImageWindow::copyToImage});
    copy->setAccessibleDescription(QStringLiteral("Copy to the target image"));
    QPushButton* take = addButton({"<<", "takeFromImageButton", &PtzImageWindow::takeFromImage});
    take->setAccessibleDescription(QStringLiteral("Take back from the target image"));
    moves->addWidget(copy);
    moves->addWidget(take);
    moves->addStretch(1);
    return moves;
}

QBoxLayout* PtzImageWindow::buildTargetSide()
{
    m_targetList = rowList("targetList", this);
    auto* side = new QVBoxLayout;
    side->addWidget(listCaption(QStringLiteral("Target PTZ Image"), m_targetList, this));
    side->addWidget(m_targetList, 1);
    side->addLayout(buttonRow({{"Move up", "moveUpButton", &PtzImageWindow::moveUp},
                               {"Move down", "moveDownButton", &PtzImageWindow::moveDown}}));
    side->addLayout(
        buttonRow({{"Load Image...", "loadImageButton", &PtzImageWindow::loadImage},
                   {"Save to Image...", "saveImageButton", &PtzImageWindow::saveImage}}));
    return side;
}

std::optional<PtzProtocol> PtzImageWindow::runEditor(const PtzProtocol& record,
                                                     PtzEditorWindow::Mode mode)
{
    PtzEditorWindow editor(m_prompter, record, m_database, mode, this);
    if (editor.exec() != QDialog::Accepted)
        return std::nullopt;
    return editor.record();
}

int PtzImageWindow::selectedDatabaseIndex() const
{
    const QListWidgetItem* row = m_databaseList->currentItem();
    if (!row || !row->isSelected())
        return -1;
    return m_database.FindIndex(rowNumber(row->text()));
}

void PtzImageWindow::fillDatabaseList()
{
    m_databaseList->clear();
    PtzProtocol record;
    for (int i = 0; i < m_database.GetCount(); ++i) {
        if (m_database.GetAt(i, record))
            addDatabaseRow(record);
    }
}

void PtzImageWindow::fillTargetList()
{
    m_targetList->clear();
    PtzProtocol record;
    for (int slot = 0; slot < m_image.UsedSlotCount(); ++slot) {
        if (m_image.GetAt(slot, record))
            m_targetList->addItem(entryRowText(record));
    }
}

void PtzImageWindow::addDatabaseRow(const PtzProtocol& record)
{
    m_databaseList->addItem(new DatabaseRow(entryRowText(record)));
}

QListWidgetItem* PtzImageWindow::replaceDatabaseRow(int row, const PtzProtocol& record)
{
    // Taken out and put back, so a changed name finds its sorted place; a selection elsewhere
    // stays where it was.
    QListWidgetItem* selected = m_databaseList->currentItem();
    if (selected && !selected->isSelected())
        selected = nullptr;
    QListWidgetItem* old = m_databaseList->takeItem(row);
    auto* item = new DatabaseRow(entryRowText(record));
    m_databaseList->addItem(item);
    if (selected == old)
        selected = item;
    delete old;
    selectDatabaseRow(selected);
    return item;
}

void PtzImageWindow::selectDatabaseRow(QListWidgetItem* row)
{
    m_databaseList->setCurrentItem(row);
    if (!row)
        m_databaseList->clearSelection();
}

int PtzImageWindow::findDatabaseRow(std::int32_t number) const
{
    for (int row = 0; row < m_databaseList->count(); ++row) {
        if (rowNumber(m_databaseList->item(row)->text()) == number)
            return row;
    }
    return -1;
}

void PtzImageWindow::selectDatabaseRowStartingWith(const QString& prefix)
{
    // The search starts after the first row and wraps round to it.
    const int count = m_databaseList->count();
    for (int step = 1; step <= count; ++step) {
        const int row = step % count;
        if (m_databaseList->item(row)->text().startsWith(prefix, Qt::CaseInsensitive)) {
            m_databaseList->setCurrentRow(row);
            return;
        }
    }
    selectDatabaseRow(nullptr);
}

void PtzImageWindow::addProtocol()
{
    PtzProtocol proposed;
    proposed.number = m_database.GetNextNumber();
    proposed.setName("New PTZ Protocol(" + std::to_string(proposed.number) + ")");
    const auto added = runEditor(proposed, PtzEditorWindow::Mode::Adding);
    if (added && m_database.Grow(1) && m_database.SetAt(m_database.GetCount() - 1, *added)) {
        addDatabaseRow(*added);
        m_databaseChanged = true;
    }
    selectDatabaseRowStartingWith(entryRowText(added.value_or(proposed)));
}

void PtzImageWindow::deleteProtocol()
{
    const int index = selectedDatabaseIndex();
    if (index < 0)
        return;
    m_database.RemoveAt(index, 1);
    m_databaseChanged = true;
    delete m_databaseList->takeItem(m_databaseList->currentRow());
    // No row is selected afterwards, so a second Delete cannot take a neighbour by surprise.
    selectDatabaseRow(nullptr);
}

void PtzImageWindow::modifyProtocol()
{
    const int index = selectedDatabaseIndex();
    PtzProtocol record;
    if (index < 0 || !m_database.GetAt(index, record))
        return;
    const auto modified = runEditor(record, PtzEditorWindow::Mode::Modifying);
    // OK on an untouched record changes nothing worth a question.
    if (!modified || *modified == record || !m_database.SetAt(index, *modified))
        return;
    m_databaseChanged = true;
    selectDatabaseRow(replaceDatabaseRow(m_databaseList->currentRow(), *modified));
}

void PtzImageWindow::copyToImage()
{
    const int index = selectedDatabaseIndex();
    PtzProtocol record;
    if (index < 0 || !m_database.GetAt(index, record) || m_image.ContainsNumber(record.number))
        return;
    if (m_targetList->count() >= PtzImage::SlotCount) {
        m_prompter.showMessage(this, MessageId::PtzImageFull);
        return;
    }
    if (m_image.SetAt(m_targetList->count(), record))
        m_targetList->addItem(entryRowText(record));
}

void PtzImageWindow::takeFromImage()
{
    const int slot = m_targetList->currentRow();
    PtzProtocol record;
    if (slot < 0 || !m_image.GetAt(slot, record))
        return;
    const int index = m_database.FindIndex(record.number);
    PtzProtocol stored;
    if (index >= 0 && m_database.GetAt(index, stored)) {
        if (!(stored == record) &&
            m_prompter.askYesNo(this, QString::fromUtf8(differentContentsQuestion().data())) &&
            m_database.SetAt(index, record)) {
            replaceDatabaseRow(findDatabaseRow(record.number), record);
            m_databaseChanged = true;
        }
    } else if (m_database.Grow(1) && m_database.SetAt(m_database.GetCount() - 1, record)) {
        addDatabaseRow(record);
        m_databaseChanged = true;
    }
    m_image.RemoveSlot(slot);
    delete m_targetList->takeItem(slot);
    m_targetList->setCurrentItem(nullptr);
    m_targetList->clearSelection();
}

void PtzImageWindow::moveUp()
{
    const int row = m_targetList->currentRow();
    if (row <= 0 || !m_image.MoveSlotUp(row))
        return;
    m_targetList->insertItem(row - 1, m_targetList->takeItem(row));
    m_targetList->setCurrentRow(row - 1);
}

void PtzImageWindow::moveDown()
{
    const int row = m_targetList->currentRow();
    if (row < 0 || row + 1 >= m_targetList->count() || !m_image.MoveSlotDown(row))
        return;
    m_targetList->insertItem(row + 1, m_targetList->takeItem(row));
    m_targetList->setCurrentRow(row + 1);
}

} // namespace tolvane
