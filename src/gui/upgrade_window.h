#pragma once

#include "core/download/download_routines.h"
#include "core/transfer/download_job.h"
#include "gui/ptz_image_window.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tolvane {

class Prompter;

// The dotted quad of four decimal octets 0-255 in its plain form ("192.168.000.001" becomes
// "192.168.0.1"), or nothing when the text is not one.
std::optional<QString> canonicalIpv4Address(const QString& text);

// The canonical address of one host a download can go to, or nothing: malformed, 0.0.0.0, or
// 224.0.0.0 and above (multicast, reserved, broadcast).
std::optional<QString> targetIpv4Address(const QString& text);

// An unsigned decimal integer of at most maxValue; no sign, blanks only around it.
std::optional<std::uint32_t> parseUnsignedDecimal(const QString& text, std::uint32_t maxValue);

// The routines behind Download, one per download type; the real ones unless a test replaces them.
struct DownloadRoutineSet {
    std::function<RoutineOutcome(DownloadOperator&, const std::string&, const DownloadTarget&,
                                 const UnitIdentity&)>
        integratedImage = downloadIntegratedImage;
    std::function<RoutineOutcome(DownloadOperator&, const DownloadTarget&, const UnitIdentity&)>
        individualData = downloadIndividualData;
    std::function<RoutineOutcome(DownloadOperator&, const std::string&, const DownloadTarget&)>
        applicationImage = downloadApplicationImage;
    std::function<RoutineOutcome(DownloadOperator&, const std::string&, const DownloadTarget&)>
        ptzImage = downloadPtzImage;
};

// The main window: target, download type, image path and unit identity, and Download.
class UpgradeWindow : public QDialog {
    Q_OBJECT
public:
    enum DownloadType {
        IntegratedImage = 0,
        IndividualData = 1,
        ApplicationImage = 2,
        PtzImage = 3
    };

    explicit UpgradeWindow(Prompter& prompter, QWidget* parent = nullptr);
    ~UpgradeWindow() override;

    void setRoutines(DownloadRoutineSet routines) { m_routines = std::move(routines); }
    // Time limits for every transfer Download starts.
    void setDownloadDeadlines(const DownloadDeadlines& deadlines) { m_deadlines = deadlines; }
    // Replaces the PTZ image creator that "Editing PTZ Data" opens; the replacement answers the
    // image path to take, or nothing when the creator was left without Close.
    void setPtzEditor(std::function<std::optional<QString>()> editor)
    {
        m_ptzEditor = std::move(editor);
    }

    int downloadType() const;

public slots:
    void download();
    void browseImage();
    void editPtzData();
    void showAbout();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void applyDownloadType(int type);
    void applyMacBox();
    void applySerialBox();
    // Reads the controls into the fields; on a bad field tells the operator, focuses it and
    // answers false.
    bool readFields();
    void writeFields();
    std::optional<QString> runPtzImageWindow();

    Prompter& m_prompter;
    DownloadRoutineSet m_routines;
    std::optional<DownloadDeadlines> m_deadlines;
    std::function<std::optional<QString>()> m_ptzEditor;
    PtzImageWindowMemory m_ptzMemory;

    // Fields bound to the controls.
    QString m_targetAddress;
    std::uint32_t m_targetPort = 5000;
    int m_downloadType = ApplicationImage;
    QString m_imagePath;
    QString m_macAddress;
    std::uint32_t m_serialNumber = 0;

    QLabel* m_titleLine = nullptr;
    QLineEdit* m_targetIpEdit = nullptr;
    QLineEdit* m_targetPortEdit = nullptr;
    QButtonGroup* m_typeGroup = nullptr;
    QRadioButton* m_typeRadios[4] = {};
    QLineEdit* m_imagePathEdit = nullptr;
    QPushButton* m_browseButton = nullptr;
    QCheckBox* m_macBox = nullptr;
    QLineEdit* m_macEdit = nullptr;
    QCheckBox* m_autoIncreaseBox = nullptr;
    QCheckBox* m_serialBox = nullptr;
    QLineEdit* m_serialEdit = nullptr;
    QLabel* m_certificationKeyLabel = nullptr;
    QLineEdit* m_certificationKeyEdit = nullptr;
    QPushButton* m_editPtzButton = nullptr;
    QPushButton* m_downloadButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    QAction* m_aboutAction = nullptr;
};

} // namespace tolvane
