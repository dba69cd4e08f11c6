#include "gui/production/production_form.h"

#include "gui/prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <iterator>

namespace tolvane {

namespace {

// The types in the list's order.
constexpr DownloadType ListedTypes[] = {DownloadType::ApplicationImage,
                                        DownloadType::IntegratedImage, DownloadType::IndividualData,
                                        DownloadType::PtzImage};

template <typename Widget> Widget* named(Widget* widget, const char* objectName)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    return widget;
}

// A field with its label in the grid's row; the label's caption is the field's accessible name.
void addLabelled(QGridLayout& grid, int row, const QString& caption, QWidget* field)
{
    auto* label = new QLabel(caption, grid.parentWidget());
    label->setBuddy(field);
    field->setAccessibleName(spokenCaption(caption));
    grid.addWidget(label, row, 0);
    grid.addWidget(field, row, 1);
}

QPushButton* browseButton(QWidget* parent, const char* objectName, const char* spoken)
{
    auto* button = named(new QPushButton(QStringLiteral("..."), parent), objectName);
    button->setAccessibleName(QString::fromLatin1(spoken));
    button->setToolTip(QString::fromLatin1(spoken));
    button->setAutoDefault(false);
    return button;
}

} // namespace

QString spokenCaption(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

ProductionForm::ProductionForm(Prompter& prompter, QWidget* parent)
    : QWidget(parent), m_prompter(prompter)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    buildTypeAndImage(*grid);
    buildIdentity(*grid);
    buildRecordAndJobs(*grid);
    applyType();
}

void ProductionForm::buildTypeAndImage(QGridLayout& grid)
{
    m_typeList = named(new QComboBox(this), "downloadTypeList");
    m_typeList->addItems({QStringLiteral("Application Image"), QStringLiteral("Integrated Image"),
                          QStringLiteral("Individual Data"), QStringLiteral("PTZ Image")});
    addLabelled(grid, 0, QStringLiteral("Download &type"), m_typeList);
    connect(m_typeList, &QComboBox::currentIndexChanged, this, &ProductionForm::applyType);

    m_imagePathEdit = named(new QLineEdit(this), "imagePathEdit");
    addLabelled(grid, 1, QStringLiteral("Image &Path"), m_imagePathEdit);
    m_imageBrowse = browseButton(this, "imageBrowseButton", "Browse for image");
    grid.addWidget(m_imageBrowse, 1, 2);
    connect(m_imageBrowse, &QPushButton::clicked, this, &ProductionForm::browseImage);
}

void ProductionForm::buildIdentity(QGridLayout& grid)
{
    m_macBox = named(new QCheckBox(QStringLiteral("Download &MAC Address"), this), "macBox");
    m_serialBox = named(new QCheckBox(QStringLiteral("Download S/&N"), this), "serialBox");
    m_macBox->setChecked(true);
    grid.addWidget(m_macBox, 2, 1);
    grid.addWidget(m_serialBox, 3, 1);
    m_firstMacEdit = named(new QLineEdit(this), "firstMacEdit");
    m_firstMacEdit->setMaxLength(12);
    m_firstMacEdit->setPlaceholderText(QStringLiteral("twelve hex digits"));
    addLabelled(grid, 4, QStringLiteral("&First MAC"), m_firstMacEdit);
    m_firstSerialEdit = named(new QLineEdit(this), "firstSerialEdit");
    m_firstSerialEdit->setText(QStringLiteral("1"));
    addLabelled(grid, 5, QStringLiteral("First &S/N"), m_firstSerialEdit);
    for (QCheckBox* box : {m_macBox, m_serialBox}) {
        box->setAccessibleName(spokenCaption(box->text()));
        connect(box, &QCheckBox::toggled, this, &ProductionForm::applyType);
    }
}

void ProductionForm::buildRecordAndJobs(QGridLayout& grid)
{
    m_recordEdit = named(new QLineEdit(this), "recordEdit");
    m_recordEdit->setPlaceholderText(QStringLiteral("an SQLite file or a PostgreSQL location"));
    addLabelled(grid, 6, QStringLiteral("Re&cord"), m_recordEdit);
    connect(m_recordEdit, &QLineEdit::editingFinished, this,
            [this] { emit recordLocationChanged(recordLocation()); });
    m_recordBrowse = browseButton(this, "recordBrowseButton", "Browse for record");
    grid.addWidget(m_recordBrowse, 6, 2);
    connect(m_recordBrowse, &QPushButton::clicked, this, &ProductionForm::browseRecord);

    m_jobsSpin = named(new QSpinBox(this), "jobsSpin");
    m_jobsSpin->setRange(1, 64);
    m_jobsSpin->setValue(4);
    addLabelled(grid, 7, QStringLiteral("&Jobs"), m_jobsSpin);
}

void ProductionForm::applyType()
{
    const DownloadType type = downloadType();
    const bool identityType =
        type == DownloadType::IntegratedImage || type == DownloadType::IndividualData;
    m_imagePathEdit->setEnabled(type != DownloadType::IndividualData);
    m_imageBrowse->setEnabled(type != DownloadType::IndividualData);
    m_macBox->setEnabled(identityType);
    m_serialBox->setEnabled(identityType);
    m_firstMacEdit->setEnabled(sendsMac());
    m_firstSerialEdit->setEnabled(sendsSerial());
}

void ProductionForm::browseImage()
{
    const QString path = m_prompter.openFile(this, QStringLiteral("Image Path"),
                                             QStringLiteral("Images (*.bin);;All files (*)"));
    if (!path.isEmpty())
        m_imagePathEdit->setText(path);
}

void ProductionForm::browseRecord()
{
    // A new record is typed in the field; the dialog picks one that exists.
    const QString path = m_prompter.openFile(this, QStringLiteral("Record"),
                                             QStringLiteral("Records (*.db);;All files (*)"));
    if (!path.isEmpty())
        setRecordLocation(path);
}

DownloadType ProductionForm::downloadType() const
{
    return ListedTypes[std::max(m_typeList->currentIndex(), 0)];
}

void ProductionForm::setDownloadType(DownloadType type)
{
    for (int i = 0; i < static_cast<int>(std::size(ListedTypes)); ++i) {
        if (ListedTypes[i] == type)
            m_typeList->setCurrentIndex(i);
    }
}

QString ProductionForm::imagePath() const
{
    return m_imagePathEdit->text();
}

void ProductionForm::setImagePath(const QString& path)
{
    m_imagePathEdit->setText(path);
}

QString ProductionForm::recordLocation() const
{
    return m_recordEdit->text().trimmed();
}

void ProductionForm::setRecordLocation(const QString& location)
{
    m_recordEdit->setText(location);
    emit recordLocationChanged(recordLocation());
}

bool ProductionForm::sendsMac() const
{
    return m_macBox->isEnabled() && m_macBox->isChecked();
}

bool ProductionForm::sendsSerial() const
{
    return m_serialBox->isEnabled() && m_serialBox->isChecked();
}

QString ProductionForm::firstMac() const
{
    return m_firstMacEdit->text().trimmed();
}

std::optional<std::uint32_t> ProductionForm::firstSerial() const
{
    bool ok = false;
    const std::uint32_t serial = m_firstSerialEdit->text().trimmed().toUInt(&ok);
    if (!ok)
        return std::nullopt;
    return serial;
}

int ProductionForm::jobs() const
{
    return m_jobsSpin->value();
}

QWidget* ProductionForm::lastControl() const
{
    return m_jobsSpin;
}

} // namespace tolvane
