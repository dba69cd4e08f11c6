#include "gui/upgrade_window.h"

#include "core/base/messages.h"
#include "gui/about_window.h"
#include "gui/app_icon.h"
#include "gui/prompter.h"
#include "gui/window_download_operator.h"

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

// The caption as read out: without the '&' that marks its Alt+letter.
QString plainCaption(const QString& text)
{
    QString plain = text;
    return plain.remove(QLatin1Char('&'));
}

} // namespace

std::optional<QString> canonicalIpv4Address(const QString& text)
{
    static const QRegularExpression dottedQuad(
        QStringLiteral("^%1\\.%1\\.%1\\.%1$").arg(octetPattern()));
    const QString trimmed = text.trimmed();
    const QRegularExpressionMatch match = dottedQuad.match(trimmed);
    if (!match.hasMatch())
        return std::nullopt;
    QStringList octets;
    for (int i = 1; i <= 4; ++i)
        octets << QString::number(match.captured(i).toUInt());
    return octets.join(QLatin1Char('.'));
}

std::optional<QString> targetIpv4Address(const QString& text)
{
    const auto address = canonicalIpv4Address(text);
    if (!address)
        return std::nullopt;
    // 0.0.0.0 is no host, and from 224 up are multicast, reserved and broadcast groups: a
    // download can only go to one recorder.
    if (*address == QStringLiteral("0.0.0.0"))
        return std::nullopt;
    if (address->section(QLatin1Char('.'), 0, 0).toUInt() >= 224)
        return std::nullopt;
    return address;
}

std::optional<std::uint32_t> parseUnsignedDecimal(const QString& text, std::uint32_t maxValue)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
    }
    if (value > maxValue)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

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
    m_typeRadios[IntegratedImage]->setEnabled(false);
    m_typeRadios[IndividualData]->setEnabled(false);
    m_downloadType = ApplicationImage;
    applyDownloadType(ApplicationImage);
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

void UpgradeWindow::buildControls()
{
    m_titleLine = new QLabel(this);
    m_titleLine->setObjectName(QStringLiteral("titleLine"));
    m_titleLine->setAlignment(Qt::AlignCenter);

    // Tab does not move the focus, so every caption carries an Alt+letter for keyboard users;
    // screen readers still get the plain caption.
    auto* ipLabel = new QLabel(QStringLiteral("Target &IP"), this);
    m_targetIpEdit = new QLineEdit(this);
    m_targetIpEdit->setObjectName(QStringLiteral("targetIpEdit"));
    m_targetIpEdit->setAccessibleName(QStringLiteral("Target IP"));
    m_targetIpEdit->setMaxLength(15);
    m_targetIpEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("%1\\.%1\\.%1\\.%1").arg(octetPattern())),
        m_targetIpEdit));
    ipLabel->setBuddy(m_targetIpEdit);

    auto* portLabel = new QLabel(QStringLiteral("Target &Port"), this);
    m_targetPortEdit = new QLineEdit(this);
    m_targetPortEdit->setObjectName(QStringLiteral("targetPortEdit"));
    m_targetPortEdit->setAccessibleName(QStringLiteral("Target Port"));
    portLabel->setBuddy(m_targetPortEdit);

    auto* typeBox = new QGroupBox(QStringLiteral("Select Dow&nload Type"), this);
    typeBox->setAccessibleName(QStringLiteral("Select Download Type"));
    typeBox->setObjectName(QStringLiteral("downloadTypeGroup"));
    m_typeGroup = new QButtonGroup(this);
    const char* radioNames[4] = {"integratedRadio", "individualDataRadio", "applicationImageRadio",
                                 "ptzImageRadio"};
    const QString radioTexts[4] = {
        QStringLiteral("Download Inte&grated Image"), QStringLiteral("Download Indi&vidual Data"),
        QStringLiteral("Download Only &Application Image"), QStringLiteral("Download P&TZ Image")};
    auto* typeLayout = new QVBoxLayout(typeBox);
    for (int i = 0; i < 4; ++i) {
        m_typeRadios[i] = new QRadioButton(radioTexts[i], typeBox);
        m_typeRadios[i]->setObjectName(QString::fromLatin1(radioNames[i]));
        m_typeRadios[i]->setAccessibleName(plainCaption(radioTexts[i]));
        m_typeGroup->addButton(m_typeRadios[i], i);
        typeLayout->addWidget(m_typeRadios[i]);
    }
    connect(m_typeGroup, &QButtonGroup::idClicked, this, &UpgradeWindow::applyDownloadType);

    auto* pathLabel = new QLabel(QStringLiteral("Image Pat&h"), this);
    m_imagePathEdit = new QLineEdit(this);
    m_imagePathEdit->setObjectName(QStringLiteral("imagePathEdit"));
    m_imagePathEdit->setAccessibleName(QStringLiteral("Image Path"));
    pathLabel->setBuddy(m_imagePathEdit);
    m_browseButton = new QPushButton(QStringLiteral("..."), this);
    m_browseButton->setObjectName(QStringLiteral("browseButton"));
    m_browseButton->setAccessibleName(QStringLiteral("Browse for image"));
    m_browseButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_browseButton->setAutoDefault(false);
    m_browseButton->setMaximumWidth(
        m_browseButton->fontMetrics().horizontalAdvance(m_browseButton->text()) + 24);
    connect(m_browseButton, &QPushButton::clicked, this, &UpgradeWindow::browseImage);

    m_macBox = new QCheckBox(QStringLiteral("Download &MAC Address"), this);
    m_macBox->setObjectName(QStringLiteral("macBox"));
    m_macBox->setAccessibleName(QStringLiteral("Download MAC Address"));
    connect(m_macBox, &QCheckBox::clicked, this, &UpgradeWindow::applyMacBox);
    auto* macPrefix = new QLabel(QStringLiteral("0x"), this);
    macPrefix->setObjectName(QStringLiteral("macPrefixLabel"));
    m_macEdit = new QLineEdit(this);
    m_macEdit->setObjectName(QStringLiteral("macEdit"));
    m_macEdit->setAccessibleName(QStringLiteral("Download MAC Address"));
    m_macEdit->setMaxLength(macTextLength);
    m_autoIncreaseBox = new QCheckBox(QStringLiteral("Auto In&crease"), this);
    m_autoIncreaseBox->setObjectName(QStringLiteral("autoIncreaseBox"));
    m_autoIncreaseBox->setAccessibleName(QStringLiteral("Auto Increase"));

    m_serialBox = new QCheckBox(QStringLiteral("Download &S/N"), this);
    m_serialBox->setObjectName(QStringLiteral("serialBox"));
    m_serialBox->setAccessibleName(QStringLiteral("Download S/N"));
    connect(m_serialBox, &QCheckBox::clicked, this, &UpgradeWindow::applySerialBox);
    m_serialEdit = new QLineEdit(this);
    m_serialEdit->setObjectName(QStringLiteral("serialEdit"));
    m_serialEdit->setAccessibleName(QStringLiteral("Download S/N"));

    m_certificationKeyLabel = new QLabel(QStringLiteral("Certification Key :"), this);
    m_certificationKeyLabel->setObjectName(QStringLiteral("certificationKeyLabel"));
    m_certificationKeyEdit = new QLineEdit(this);
    m_certificationKeyEdit->setObjectName(QStringLiteral("certificationKeyEdit"));
    m_certificationKeyEdit->setAccessibleName(QStringLiteral("Certification Key :"));
    m_certificationKeyLabel->setBuddy(m_certificationKeyEdit);
    for (QWidget* w : {static_cast<QWidget*>(m_certificationKeyLabel),
                       static_cast<QWidget*>(m_certificationKeyEdit)}) {
        w->setEnabled(false);
        w->setVisible(false);
    }

    m_editPtzButton = new QPushButton(QStringLiteral("&Editing PTZ Data"), this);
    m_editPtzButton->setObjectName(QStringLiteral("editPtzButton"));
    m_editPtzButton->setAccessibleName(QStringLiteral("Editing PTZ Data"));
    m_editPtzButton->setAutoDefault(false);
    connect(m_editPtzButton, &QPushButton::clicked, this, &UpgradeWindow::editPtzData);

    m_downloadButton = new QPushButton(QStringLiteral("&Download\n(Enter key)"), this);
    m_downloadButton->setObjectName(QStringLiteral("downloadButton"));
    m_downloadButton->setAccessibleName(QStringLiteral("Download"));
    m_downloadButton->setDefault(true);
    connect(m_downloadButton, &QPushButton::clicked, this, &UpgradeWindow::download);

    m_exitButton = new QPushButton(QStringLiteral("E&xit (ESC key)"), this);
    m_exitButton->setObjectName(QStringLiteral("exitButton"));
    m_exitButton->setAccessibleName(QStringLiteral("Exit (ESC key)"));
    m_exitButton->setAutoDefault(false);
    connect(m_exitButton, &QPushButton::clicked, this, &QDialog::reject);

    // Window managers offer no way to add to their system menu; the item lives in the window's
    // context menu and has a shortcut.
    m_aboutAction = new QAction(messageQString(MessageId::AboutMenuItem), this);
    m_aboutAction->setObjectName(QStringLiteral("aboutAction"));
    m_aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_aboutAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_aboutAction, &QAction::triggered, this, &UpgradeWindow::showAbout);
    addAction(m_aboutAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* grid = new QGridLayout;
    grid->addWidget(ipLabel, 0, 0);
    grid->addWidget(m_targetIpEdit, 0, 1);
    grid->addWidget(portLabel, 0, 2);
    grid->addWidget(m_targetPortEdit, 0, 3);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(m_imagePathEdit, 1);
    pathRow->addWidget(m_browseButton);

    auto* macRow = new QHBoxLayout;
    macRow->addWidget(m_macBox);
    macRow->addWidget(macPrefix);
    macRow->addWidget(m_macEdit, 1);
    macRow->addWidget(m_autoIncreaseBox);

    auto* serialRow = new QHBoxLayout;
    serialRow->addWidget(m_serialBox);
    serialRow->addWidget(m_serialEdit, 1);

    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(m_certificationKeyLabel);
    keyRow->addWidget(m_certificationKeyEdit, 1);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_editPtzButton);
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_downloadButton);
    buttonRow->addWidget(m_exitButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_titleLine);
    layout->addLayout(grid);
    layout->addWidget(typeBox);
    layout->addLayout(pathRow);
    layout->addLayout(macRow);
    layout->addLayout(serialRow);
    layout->addLayout(keyRow);
    layout->addLayout(buttonRow);
}

int UpgradeWindow::downloadType() const
{
    return m_typeGroup->checkedId();
}

void UpgradeWindow::applyDownloadType(int type)
{
    const bool identity = type == IntegratedImage || type == IndividualData;
    m_imagePathEdit->setEnabled(type != IndividualData);
    m_macBox->setEnabled(identity);
    m_macEdit->setEnabled(identity);
    m_autoIncreaseBox->setEnabled(identity);
    m_serialBox->setEnabled(identity);
    m_serialEdit->setEnabled(identity);
    m_editPtzButton->setEnabled(type == PtzImage);
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

    const auto address = targetIpv4Address(m_targetIpEdit->text());
    if (!address)
        return refuse(m_targetIpEdit);
    // A port that does not fit 16 bits is refused rather than cut to its low bits.
    const auto port = parseUnsignedDecimal(m_targetPortEdit->text(), 65535);
    if (!port || *port == 0)
        return refuse(m_targetPortEdit);
    if (m_macEdit->text().size() > macTextLength)
        return refuse(m_macEdit);
    const auto serial = parseUnsignedDecimal(m_serialEdit->text(), 0xFFFFFFFFu);
    if (!serial)
        return refuse(m_serialEdit);

    m_targetAddress = *address;
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
    if (m_downloadType >= 0 && m_downloadType < 4)
        m_typeRadios[m_downloadType]->setChecked(true);
    m_imagePathEdit->setText(m_imagePath);
    m_macEdit->setText(m_macAddress);
    m_serialEdit->setText(QString::number(m_serialNumber));
}

void UpgradeWindow::download()
{
    if (!readFields())
        return;

    WindowDownloadOperator op(m_prompter, this);
    if (m_deadlines)
        op.setDeadlines(*m_deadlines);
    const DownloadTarget target{m_targetAddress.toStdString(),
                                static_cast<std::uint16_t>(m_targetPort)};
    const std::string imagePath = m_imagePath.toStdString();
    const UnitIdentity identity{m_macAddress.toStdString(), m_serialNumber, m_macBox->isChecked(),
                                m_serialBox->isChecked(), m_autoIncreaseBox->isChecked()};

    RoutineOutcome outcome;
    switch (m_downloadType) {
    case IntegratedImage:
        if (m_routines.integratedImage)
            outcome = m_routines.integratedImage(op, imagePath, target, identity);
        break;
    case IndividualData:
        // Neither box ticked: there is nothing to send.
        if (m_routines.individualData && (identity.sendMac || identity.sendSerial))
            outcome = m_routines.individualData(op, target, identity);
        break;
    case ApplicationImage:
        if (m_routines.applicationImage)
            outcome = m_routines.applicationImage(op, imagePath, target);
        break;
    case PtzImage:
        if (m_routines.ptzImage)
            outcome = m_routines.ptzImage(op, imagePath, target);
        break;
    default: break;
    }

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
