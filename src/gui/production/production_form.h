#pragma once

#include "core/download/download_routines.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace tolvane {

class Prompter;

// What a production run sends and where it keeps the record: the fields above the recorders.
class ProductionForm : public QWidget {
    Q_OBJECT
public:
    explicit ProductionForm(Prompter& prompter, QWidget* parent = nullptr);

    DownloadType downloadType() const;
    void setDownloadType(DownloadType type);
    QString imagePath() const;
    void setImagePath(const QString& path);
    QString recordLocation() const;
    void setRecordLocation(const QString& location);
    bool sendsMac() const;
    bool sendsSerial() const;
    // Whether the chosen type sends the recorder a MAC address or serial number.
    bool sendsIdentity() const { return sendsMac() || sendsSerial(); }
    QString firstMac() const;
    // The first serial number, or nothing when the field does not hold one.
    std::optional<std::uint32_t> firstSerial() const;
    int jobs() const;

    // The last control of the form, for the window's tab order.
    QWidget* lastControl() const;

signals:
    void recordLocationChanged(const QString& location);

private:
    void buildTypeAndImage(QGridLayout& grid);
    void buildIdentity(QGridLayout& grid);
    void buildRecordAndJobs(QGridLayout& grid);
    void applyType();
    void browseImage();
    void browseRecord();

    Prompter& m_prompter;
    QComboBox* m_typeList = nullptr;
    QLineEdit* m_imagePathEdit = nullptr;
    QPushButton* m_imageBrowse = nullptr;
    QCheckBox* m_macBox = nullptr;
    QCheckBox* m_serialBox = nullptr;
    QLineEdit* m_firstMacEdit = nullptr;
    QLineEdit* m_firstSerialEdit = nullptr;
    QLineEdit* m_recordEdit = nullptr;
    QPushButton* m_recordBrowse = nullptr;
    QSpinBox* m_jobsSpin = nullptr;
};

// The caption as read out: without the '&' that marks its Alt+letter.
QString spokenCaption(QString caption);

} // namespace tolvane
