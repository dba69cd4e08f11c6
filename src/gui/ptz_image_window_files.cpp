// The image creator's files: the database and image buttons, and leaving the window, which asks
// before unsaved changes of the database are lost.
#include "gui/prompter.h"
#include "gui/ptz_image_window.h"

#include <QCheckBox>
#include <QFile>

namespace tolvane {

namespace {

const QString databaseFilter = QStringLiteral("PTZ DB Files (*.pdb);;All Files (*)");
const QString imageFilter = QStringLiteral("PTZ-Image Files (*.bin);;All Files (*)");

std::string localPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

void PtzImageWindow::tellFailure(MessageId id, const Failure& failure)
{
    // The failure's text names the file and gives the system's reason.
    const std::string detail = failure.text();
    m_prompter.showMessage(
        this, id, QString::fromLocal8Bit(detail.data(), static_cast<qsizetype>(detail.size())));
}

// A remembered path that no longer loads is forgotten, so the next opening does not fail again.
void PtzImageWindow::loadRememberedDatabase()
{
    if (m_memory.lastDatabasePath.isEmpty())
        return;
    if (const auto loaded = m_database.load(localPath(m_memory.lastDatabasePath)); !loaded) {
        m_memory.lastDatabasePath.clear();
        tellFailure(MessageId::CannotReadFile, loaded.failure());
    }
    fillDatabaseList();
}

bool PtzImageWindow::databaseMayBeLeft()
{
    if (!m_databaseChanged)
        return true;
    switch (m_prompter.askYesNoCancel(this, messageQString(MessageId::ConfirmSaveDatabase))) {
    case Prompter::Answer::Yes: return saveDatabaseToChosenFile();
    case Prompter::Answer::No: return true;
    case Prompter::Answer::Cancel: break;
    }
    return false;
}

void PtzImageWindow::loadDatabase()
{
    if (!databaseMayBeLeft())
        return;
    const QString path = m_prompter.openFile(this, QStringLiteral("Load PTZ DB"), databaseFilter);
    if (path.isEmpty())
        return;
    const auto loaded = m_database.load(localPath(path));
    fillDatabaseList();
    if (!loaded) {
        tellFailure(MessageId::CannotReadFile, loaded.failure());
        return;
    }
    m_memory.lastDatabasePath = path;
    m_databaseChanged = false;
}

void PtzImageWindow::saveDatabase()
{
    (void)saveDatabaseToChosenFile();
}

bool PtzImageWindow::saveDatabaseToChosenFile()
{
    const QString path = m_prompter.saveFile(this, QStringLiteral("Save PTZ DB"), databaseFilter,
                                             QStringLiteral("pdb"));
    if (path.isEmpty())
        return false;
    if (const auto saved = m_database.save(localPath(path)); !saved) {
        tellFailure(MessageId::CannotSaveFile, saved.failure());
        return false;
    }
    m_memory.lastDatabasePath = path;
    m_databaseChanged = false;
    return true;
}

void PtzImageWindow::loadImage()
{
    const QString path = m_prompter.openFile(this, QStringLiteral("Load Image"), imageFilter);
    if (path.isEmpty())
        return;
    // A file that does not read leaves the image, and the path handed back, as they were.
    keepImagePathIf(m_image.read(localPath(path)), path, MessageId::CannotReadFile);
    fillTargetList();
}

void PtzImageWindow::saveImage()
{
    const QString path = m_prompter.saveFile(this, QStringLiteral("Save to Image"), imageFilter,
                                             QStringLiteral("bin"));
    if (!path.isEmpty())
        keepImagePathIf(m_image.write(localPath(path)), path, MessageId::CannotSaveFile);
}

void PtzImageWindow::keepImagePathIf(const Result<void>& done, const QString& path,
                                     MessageId failure)
{
    if (done)
        m_imagePath = path;
    else
        tellFailure(failure, done.failure());
}

void PtzImageWindow::accept()
{
    if (!databaseMayBeLeft())
        return;
    m_memory.useLatestImage = m_useLatestImageBox->isChecked();
    if (!m_memory.useLatestImage)
        m_imagePath.clear();
    QDialog::accept();
}

void PtzImageWindow::reject()
{
    if (databaseMayBeLeft())
        QDialog::reject();
}

} // namespace tolvane
