#pragma once

#include "core/download/download_routines.h"
#include "core/transfer/download_job.h"
#include "gui/ptz_image_window.h"
#include "service/download_service.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tolvane {

class Prompter;
namespace record {
class ProductionRecord;
}

using DownloadRunner = service::DownloadRunner;

// The main window: target, download type, image path and unit identity, and Download.
class UpgradeWindow : public QDialog {
    Q_OBJECT
public:
    explicit UpgradeWindow(Prompter& prompter, QWidget* parent = nullptr);
    ~UpgradeWindow() override;

    // Runs download routines through runner; runDownload unless a test replaces it.
    void setDownloadRunner(DownloadRunner runner) { m_runDownload = std::move(runner); }
    // Keeps every download in the production record and checks each MAC address against it
    // before it is sent. A bench with a record provisions units, so the integrated image and the
    // individual data can be chosen too. The record must outlive the window.
    void setProductionRecord(record::ProductionRecord* record);
    // Time limits for every transfer Download starts.
    void setDownloadDeadlines(const DownloadDeadlines& deadlines) { m_deadlines = deadlines; }
    // Replaces the PTZ image creator that "Editing PTZ Data" opens; the replacement answers the
    // image path to take, or nothing when the creator was left without Close.
    void setPtzEditor(std::function<std::optional<QString>()> editor)
    {
        m_ptzEditor = std::move(editor);
    }

    DownloadType downloadType() const;

public slots:
    void download();
    void browseImage();
    void editPtzData();
    void showAbout();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildTargetFields();
    void buildTypeChoice();
    void buildImageFields();
    void buildIdentityFields();
    void buildButtons();
    void layOutControls();
    void applyDownloadType(int type);
    service::UnitRequest unitRequest() const;
    void applyMacBox();
    void applySerialBox();
    // Reads the controls into the fields; on a bad field tells the operator, focuses it and
    // answers false.
    bool readFields();
    void writeFields();
    std::optional<QString> runPtzImageWindow();

    Prompter& m_prompter;
    DownloadRunner m_runDownload = runDownload;
    record::ProductionRecord* m_record = nullptr;
    std::optional<DownloadDeadlines> m_deadlines;
    std::function<std::optional<QString>()> m_ptzEditor;
    PtzImageWindowMemory m_ptzMemory;

    // Fields bound to the controls.
    QString m_targetAddress;
    std::uint32_t m_targetPort = 5000;
    DownloadType m_downloadType = DownloadType::ApplicationImage;
    QString m_imagePath;
    QString m_macAddress;
    std::uint32_t m_serialNumber = 0;

    QLabel* m_titleLine = nullptr;
    QLabel* m_ipLabel = nullptr;
    QLabel* m_portLabel = nullptr;
    QGroupBox* m_typeBox = nullptr;
    QLabel* m_pathLabel = nullptr;
    QLabel* m_macPrefix = nullptr;
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
