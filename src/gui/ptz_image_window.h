#pragma once

#include "core/base/messages.h"
#include "core/ptz/ptz_image.h"
#include "core/ptz/ptz_protocol_list.h"
#include "gui/ptz_editor_window.h"

#include <QDialog>
#include <QString>

#include <initializer_list>
#include <optional>
#include <string>

class QBoxLayout;
class QCheckBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace tolvane {

class Prompter;

// What the image creator remembers from one opening to the next while the program runs; never
// written to disk.
struct PtzImageWindowMemory {
    QString lastDatabasePath;
    bool useLatestImage = true;
};

// The "PTZ Data Image Creator": a protocol database on the left, edited through the PTZ Data
// Editor and kept in .pdb files, and on the right the PTZ image built from it, kept in .bin files.
// Close hands back the path of the image file last loaded or saved.
class PtzImageWindow : public QDialog {
    Q_OBJECT
public:
    PtzImageWindow(Prompter& prompter, PtzImageWindowMemory& memory, QWidget* parent = nullptr);
    ~PtzImageWindow() override;

    // The image file last loaded or saved here; empty when the box was cleared on Close.
    QString imagePath() const { return m_imagePath; }

public slots:
    void addProtocol();
    void deleteProtocol();
    void modifyProtocol();
    void loadDatabase();
    void saveDatabase();
    void copyToImage();
    void takeFromImage();
    void moveUp();
    void moveDown();
    void loadImage();
    void saveImage();
    void accept() override;
    // Escape and the close box.
    void reject() override;

private:
    struct ButtonRole {
        const char* caption;
        const char* objectName;
        void (PtzImageWindow::*slot)();
    };
    void buildControls();
    QBoxLayout* buildDatabaseSide();
    QBoxLayout* buildMoveButtons();
    QBoxLayout* buildTargetSide();
    QBoxLayout* buttonRow(std::initializer_list<ButtonRole> buttons);
    QPushButton* addButton(const ButtonRole& wanted);
    std::optional<PtzProtocol> runEditor(const PtzProtocol& record, PtzEditorWindow::Mode mode);
    // The database index of the protocol on the selected row, or -1.
    int selectedDatabaseIndex() const;
    void fillDatabaseList();
    void fillTargetList();
    void addDatabaseRow(const PtzProtocol& record);
    QListWidgetItem* replaceDatabaseRow(int row, const PtzProtocol& record);
    void selectDatabaseRow(QListWidgetItem* row); // nullptr: none
    int findDatabaseRow(std::int32_t number) const;
    void selectDatabaseRowStartingWith(const QString& prefix);
    void tellFailure(MessageId id, const Failure& failure);
    void loadRememberedDatabase();
    // Shows the save dialog and saves; false when cancelled or failed.
    bool saveDatabaseToChosenFile();
    // Asks before unsaved changes of the database are lost; false when the operator keeps them.
    bool databaseMayBeLeft();
    // The image file handed back on Close is one whose load or save succeeded.
    void keepImagePathIf(const Result<void>& done, const QString& path, MessageId failure);

    Prompter& m_prompter;
    PtzImageWindowMemory& m_memory;
    PtzProtocolList m_database;
    PtzImage m_image;
    QString m_imagePath;
    // Set by every edit of the database, cleared when it is loaded or saved.
    bool m_databaseChanged = false;

    QListWidget* m_databaseList = nullptr;
    QListWidget* m_targetList = nullptr;
    QCheckBox* m_useLatestImageBox = nullptr;
};

} // namespace tolvane
