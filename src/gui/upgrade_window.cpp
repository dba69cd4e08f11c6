#include "gui/upgrade_window.h"

#include "core/base/messages.h"
#include "core/download/target_address.h"
#include "gui/about_window.h"
#include "gui/app_icon.h"
#include "gui/prompter.h"
#include "gui/window_download_operator.h"
#include "gui/window_unit_observer.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QStringList>
#include <QVBoxLayout>

namespace tolvane {

namespace {

const QString startAddress = QStringLiteral("192.168.0.1");
constexpr std::uint32_t startPort = 5000;
// Nothing reads the certification key; the field only has to hold four digits.
const QString certificationKey = QStringLiteral("3705");
constexpr int macTextLength = 12;

QString octetPattern()
{
    return QStringLiteral("(25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9])");
}

// Typed characters: digits and dots in the shape of an address; the core reads the result.
QRegularExpression addressShape()
{
    return QRegularExpression(QStringLiteral("%1\\.%1\\.%1\\.%1").arg(octetPattern()));
}

template <typename Widget> Widget* named(Widget* widget, const char* objectName)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    return widget;
}

// The caption as read out: without the '&' that marks its Alt+letter.
QString plainCaption(const QString& text)
{
    QString plain = text;
    return plain.remove(QLatin1Char('&'));
}

} // namespace

UpgradeWindow::UpgradeWindow(Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_prompter(prompter), m_ptzEditor([this] { return runPtzImageWindow(); })
{
    setObjectName(QStringLiteral("upgradeWindow"));
    setWindowTitle(QStringLiteral(" Tolvane ver. 3.5"));
    if (QFontDatabase::families().contains(QStringLiteral("Arial")))
        setFont(QFont(QStringLiteral("Arial"), 12));
    setWindowIcon(tolvaneIcon());

    buildControls();

    // Start state: only the application image and the PTZ image can be chosen.
    m_titleLine->setText(QStringLiteral("Tolvane  ") + QStringLiteral("ver 3.7"));
    m_typeRadios[static_cast<int>(DownloadType::IntegratedImage)]->setEnabled(false);
    m_typeRadios[static_cast<int>(DownloadType::IndividualData)]->setEnabled(false);
    m_downloadType = DownloadType::ApplicationImage;
    applyDownloadType(static_cast<int>(DownloadType::ApplicationImage));
    m_certificationKeyEdit->setText(certificationKey);
    m_targetAddress = startAddress;
    m_targetPort = startPort;
    writeFields();
    m_macBox->setChecked(true);
    m_serialBox->setChecked(true);
    m_editPtzButton->setEnabled(false);

    // Tab must not move the focus: filter it on the window and on every control in it.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

UpgradeWindow::~UpgradeWindow() = default;

void UpgradeWindow::setProductionRecord(record::ProductionRecord* record)
{
    m_record = record;
    m_typeRadios[static_cast<int>(DownloadType::IntegratedImage)]->setEnabled(record != nullptr);
    m_typeRadios[static_cast<int>(DownloadType::IndividualData)]->setEnabled(record != nullptr);
}

void UpgradeWindow::buildControls()
{
    m_titleLine = named(new QLabel(this), "titleLine");
    m_titleLine->setAlignment(Qt::AlignCenter);
    buildTargetFields();
    buildTypeChoice();
    buildImageFields();
    buildIdentityFields();
    buildButtons();
    layOutControls();
}

// Tab does not move the focus, so every caption carries an Alt+letter for keyboard users; screen
// readers still get the plain caption.
void UpgradeWindow::buildTargetFields()
{
    m_ipLabel = new QLabel(QStringLiteral("Target &IP"), this);
    m_targetIpEdit = named(new QLineEdit(this), "targetIpEdit");
    m_targetIpEdit->setAccessibleName(QStringLiteral("Target IP"));
    m_targetIpEdit->setMaxLength(15);
    m_targetIpEdit->setValidator(new QRegularExpressionValidator(addressShape(), m_targetIpEdit));
    m_ipLabel->setBuddy(m_targetIpEdit);

    m_portLabel = new QLabel(QStringLiteral("Target &Port"), this);
    m_targetPortEdit = named(new QLineEdit(this), "targetPortEdit");
    m_targetPortEdit->setAccessibleName(QStringLiteral("Target Port"));
    m_portLabel->setBuddy(m_targetPortEdit);
}

void UpgradeWindow::buildTypeChoice()
{
    m_typeBox =
        named(new QGroupBox(QStringLiteral("Select Dow&nload Type"), this), "downloadTypeGroup");
    m_typeBox->setAccessibleName(QStringLiteral("Select Download Type"));
    m_typeGroup = new QButtonGroup(this);
    const char* radioNames[4] = {"integratedRadio", "individualDataRadio", "applicationImageRadio",
                                 "ptzImageRadio"};
    const QString radioTexts[4] = {
        QStringLiteral("Download Inte&grated Image"), QStringLiteral("Download Indi&vidual Data"),
        QStringLiteral("Download Only &Application Image"), QStringLiteral("Download P&TZ Image")};
    auto* typeLayout = new QVBoxLayout(m_typeBox);
    for (int i = 0; i < 4; ++i) {
        m_typeRadios[i] = named(new QRadioButton(radioTexts[i], m_typeBox), radioNames[i]);
        m_typeRadios[i]->setAccessibleName(plainCaption(radioTexts[i]));
        m_typeGroup->addButton(m_typeRadios[i], i);
        typeLayout->addWidget(m_typeRadios[i]);
    }
    connect(m_typeGroup, &QButtonGroup::idClicked, this, &UpgradeWindow::applyDownloadType);
}

void UpgradeWindow::buildImageFields()
{
    m_pathLabel = new QLabel(QStringLiteral("Image Pat&h"), this);
    m_imagePathEdit = named(new QLineEdit(this), "imagePathEdit");
    m_imagePathEdit->setAccessibleName(QStringLiteral("Image Path"));
    m_pathLabel->setBuddy(m_imagePathEdit);
    m_browseButton = named(new QPushButton(QStringLiteral("..."), this), "browseButton");
    m_browseButton->setAccessibleName(QStringLiteral("Browse for image"));
    m_browseButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_browseButton->setToolTip(QStringLiteral("Browse for image (Ctrl+O)"));
    m_browseButton->setAccessibleDescription(QStringLiteral("Ctrl+O"));
    m_browseButton->setAutoDefault(false);
    m_browseButton->setMaximumWidth(
        m_browseButton->fontMetrics().horizontalAdvance(m_browseButton->text()) + 24);
    connect(m_browseButton, &QPushButton::clicked, this, &UpgradeWindow::browseImage);
}

void UpgradeWindow::buildIdentityFields()
{
    auto checkBox = [this](const char* caption, const char* objectName) {
        auto* box = named(new QCheckBox(QString::fromUtf8(caption), this), objectName);
        box->setAccessibleName(plainCaption(box->text()));
        return box;
    };
    m_macBox = checkBox("Download &MAC Address", "macBox");
    connect(m_macBox, &QCheckBox::clicked, this, &UpgradeWindow::applyMacBox);
    m_macPrefix = named(new QLabel(QStringLiteral("0x"), this), "macPrefixLabel");
    m_macEdit = named(new QLineEdit(this), "macEdit");
    m_macEdit->setAccessibleName(QStringLiteral("Download MAC Address"));
    m_macEdit->setMaxLength(macTextLength);
    m_autoIncreaseBox = checkBox("Auto In&crease", "autoIncreaseBox");

    m_serialBox = checkBox("Download &S/N", "serialBox");
    connect(m_serialBox, &QCheckBox::clicked, this, &UpgradeWindow::applySerialBox);
    m_serialEdit = named(new QLineEdit(this), "serialEdit");
    m_serialEdit->setAccessibleName(QStringLiteral("Download S/N"));

    // Tab does not move the focus here, and a box's Alt letter ticks or clears it: without keys of
    // their own, the edits of ticked boxes could be reached only by clearing and ticking again.
    const auto focusKey = [this](QLineEdit* edit, Qt::Key key, const QString& keyName) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | key), this);
        connect(shortcut, &QShortcut::activated, edit, [edit] {
            if (edit->isEnabled())
                edit->setFocus(Qt::ShortcutFocusReason);
        });
        edit->setToolTip(keyName);
        edit->setAccessibleDescription(keyName);
    };
    focusKey(m_macEdit, Qt::Key_M, QStringLiteral("Alt+Shift+M"));
    focusKey(m_serialEdit, Qt::Key_S, QStringLiteral("Alt+Shift+S"));

    m_certificationKeyLabel =
        named(new QLabel(QStringLiteral("Certification Key :"), this), "certificationKeyLabel");
    m_certificationKeyEdit = named(new QLineEdit(this), "certificationKeyEdit");
    m_certificationKeyEdit->setAccessibleName(QStringLiteral("Certification Key :"));
    m_certificationKeyLabel->setBuddy(m_certificationKeyEdit);
    for (QWidget* w : {static_cast<QWidget*>(m_certificationKeyLabel),
                       static_cast<QWidget*>(m_certificationKeyEdit)}) {
        w->setEnabled(false);
        w->setVisible(false);
    }
}

void UpgradeWindow::buildButtons()
{
    auto button = [this](const char* caption, const char* objectName, const char* spoken) {
        auto* b = named(new QPushButton(QString::fromUtf8(caption), this), objectName);
        b->setAccessibleName(QString::fromUtf8(spoken));
        b->setAutoDefault(false);
        return b;
    };
    m_editPtzButton = button("&Editing PTZ Data", "editPtzButton", "Editing PTZ Data");
    connect(m_editPtzButton, &QPushButton::clicked, this, &UpgradeWindow::editPtzData);
    m_downloadButton = button("&Download\n(Enter key)", "downloadButton", "Download (Enter key)");
    m_downloadButton->setDefault(true);
    connect(m_downloadButton, &QPushButton::clicked, this, &UpgradeWindow::download);
    m_exitButton = button("E&xit (ESC key)", "exitButton", "Exit (ESC key)");
    connect(m_exitButton, &QPushButton::clicked, this, &QDialog::reject);

    // Window managers offer no way to add to their system menu; the item lives in the window's
    // context menu and has a shortcut.
    m_aboutAction =
        named(new QAction(messageQString(MessageId::AboutMenuItem), this), "aboutAction");
    m_aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_aboutAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_aboutAction, &QAction::triggered, this, &UpgradeWindow::showAbout);
    addAction(m_aboutAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void UpgradeWindow::layOutControls()
{
    auto row = [](std::initializer_list<std::pair<QWidget*, int>> widgets) {
        auto* layout = new QHBoxLayout;
        for (const auto& [widget, stretch] : widgets) {
            if (widget)
                layout->addWidget(widget, stretch);
            else
                layout->addStretch(stretch);
        }
        return layout;
    };
    auto* grid = new QGridLayout;
    grid->addWidget(m_ipLabel, 0, 0);
    grid->addWidget(m_targetIpEdit, 0, 1);
    grid->addWidget(m_portLabel, 0, 2);
    grid->addWidget(m_targetPortEdit, 0, 3);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_titleLine);
    layout->addLayout(grid);
    layout->addWidget(m_typeBox);
    layout->addLayout(row({{m_pathLabel, 0}, {m_imagePathEdit, 1}, {m_browseButton, 0}}));
    layout->addLayout(
        row({{m_macBox, 0}, {m_macPrefix, 0}, {m_macEdit, 1}, {m_autoIncreaseBox, 0}}));
    layout->addLayout(row({{m_serialBox, 0}, {m_serialEdit, 1}}));
    layout->addLayout(row({{m_certificationKeyLabel, 0}, {m_certificationKeyEdit, 1}}));
    layout->addLayout(
        row({{m_editPtzButton, 0}, {nullptr, 1}, {m_downloadButton, 0}, {m_exitButton, 0}}));
}

DownloadType UpgradeWindow::downloadType() const
{
    return static_cast<DownloadType>(m_typeGroup->checkedId());
}

void UpgradeWindow::applyDownloadType(int choice)
{
    const auto type = static_cast<DownloadType>(choice);
    const bool identity =
        type == DownloadType::IntegratedImage || type == DownloadType::IndividualData;
    m_imagePathEdit->setEnabled(type != DownloadType::IndividualData);
    m_macBox->setEnabled(identity);
    m_macEdit->setEnabled(identity);
    m_autoIncreaseBox->setEnabled(identity);
    m_serialBox->setEnabled(identity);
    m_serialEdit->setEnabled(identity);
    m_editPtzButton->setEnabled(type == DownloadType::PtzImage);
    if (identity) {
        m_macBox->setChecked(true);
        m_serialBox->setChecked(true);
    }
}

void UpgradeWindow::applyMacBox()
{
    const bool ticked = m_macBox->isChecked();
    m_macEdit->setEnabled(ticked);
    m_autoIncreaseBox->setEnabled(ticked);
}

void UpgradeWindow::applySerialBox()
{
    m_serialEdit->setEnabled(m_serialBox->isChecked());
}

bool UpgradeWindow::readFields()
{
    auto refuse = [this](QLineEdit* field) {
        m_prompter.showMessage(this, MessageId::WrongNumber);
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
        return false;
    };

    const auto address =
        parseRecorderAddress(m_targetIpEdit->text().toStdString(), AddressForm::Lenient);
    if (!address)
        return refuse(m_targetIpEdit);
    // A port that does not fit 16 bits is refused rather than cut to its low bits.
    const auto port = parseUnsignedDecimal(m_targetPortEdit->text().toStdString(), 65535);
    if (!port || *port == 0)
        return refuse(m_targetPortEdit);
    if (m_macEdit->text().size() > macTextLength)
        return refuse(m_macEdit);
    const auto serial = parseUnsignedDecimal(m_serialEdit->text().toStdString(), 0xFFFFFFFFu);
    if (!serial)
        return refuse(m_serialEdit);

    m_targetAddress = QString::fromStdString(*address);
    m_targetPort = *port;
    m_downloadType = downloadType();
    m_imagePath = m_imagePathEdit->text();
    m_macAddress = m_macEdit->text();
    m_serialNumber = *serial;
    return true;
}

void UpgradeWindow::writeFields()
{
    m_targetIpEdit->setText(m_targetAddress);
    m_targetPortEdit->setText(QString::number(m_targetPort));
    m_typeRadios[static_cast<int>(m_downloadType)]->setChecked(true);
    m_imagePathEdit->setText(m_imagePath);
    m_macEdit->setText(m_macAddress);
    m_serialEdit->setText(QString::number(m_serialNumber));
}

service::UnitRequest UpgradeWindow::unitRequest() const
{
    return {{m_targetAddress.toStdString(), static_cast<std::uint16_t>(m_targetPort)},
            {m_macAddress.toStdString(), m_serialNumber, m_macBox->isChecked(),
             m_serialBox->isChecked(), m_autoIncreaseBox->isChecked()}};
}

// With a production record the MAC address is reserved before it can go out (a used one is
// refused with a message naming the unit that has it), and the outcome is written after.
void UpgradeWindow::download()
{
    if (!readFields())
        return;
    WindowDownloadOperator op(m_prompter, this);
    if (m_deadlines)
        op.setDeadlines(*m_deadlines);
    if (m_downloadType != DownloadType::IndividualData)
        op.setImageFile(m_imagePath.toStdString());
    WindowUnitObserver observer(m_prompter, this);
    service::DownloadPlan plan;
    plan.type = m_downloadType;
    plan.file = m_imagePath.toStdString();
    plan.record = m_record;
    plan.wording = windowRefusalText;
    plan.heldWording = windowHeldText;
    plan.run = m_runDownload;
    const service::UnitOutcome outcome =
        service::DownloadService(std::move(plan)).runUnit(unitRequest(), op, observer);
    observer.reportRecordFailure(outcome);
    if (outcome.advancedMac) {
        m_macAddress = QString::fromStdString(*outcome.advancedMac);
        writeFields();
    }
}

void UpgradeWindow::browseImage()
{
    const QString path =
        m_prompter.openFile(this, QStringLiteral("Open"), QStringLiteral("All files (*)"));
    if (path.isEmpty())
        return;
    m_imagePath = path;
    m_imagePathEdit->setText(path);
}

std::optional<QString> UpgradeWindow::runPtzImageWindow()
{
    PtzImageWindow creator(m_prompter, m_ptzMemory, this);
    if (creator.exec() != QDialog::Accepted)
        return std::nullopt;
    return creator.imagePath();
}

void UpgradeWindow::editPtzData()
{
    if (!m_ptzEditor)
        return;
    if (const auto path = m_ptzEditor()) {
        m_imagePath = *path;
        m_imagePathEdit->setText(*path);
    }
}

void UpgradeWindow::showAbout()
{
    AboutWindow about(this);
    about.exec();
}

bool UpgradeWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace tolvane
