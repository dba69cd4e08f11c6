#include "gui/upgrade_app.h"

#include "core/base/messages.h"
#include "core/download/target_address.h"
#include "gui/app_icon.h"
#include "gui/prompter.h"
#include "gui/upgrade_window.h"
#include "record/production_record.h"
#include "tolvane_version.h"

#include <QCommandLineParser>
#include <QFile>
#include <QLineEdit>

#include <csignal>
#include <memory>

namespace tolvane {

namespace {

const QString programName = QStringLiteral("tolvane");

QString usageError(const QString& why)
{
    return programName + QStringLiteral(": ") + why + QStringLiteral("\nTry '") + programName +
           QStringLiteral(" --help' for more information.\n");
}

// The toolkit's own options ("-platform offscreen", "-style=Fusion", ...), which QApplication
// takes for itself later; they are no usage error. Qt accepts them with one dash or two.
QStringList withoutToolkitOptions(const QStringList& arguments)
{
    static const QStringList withValue{
        QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"),    QStringLiteral("session"),
        QStringLiteral("display"),         QStringLiteral("geometry"),
        QStringLiteral("style"),           QStringLiteral("stylesheet"),
        QStringLiteral("qmljsdebugger")};
    static const QStringList flags{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                   QStringLiteral("nograb"), QStringLiteral("dograb"),
                                   QStringLiteral("sync")};
    QStringList kept;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--")) {
            kept << arguments.mid(i); // the rest are image paths, dashes and all
            break;
        }
        if (i == 0 || !argument.startsWith(QLatin1Char('-'))) {
            kept << argument;
            continue;
        }
        const QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
        const QString key = name.section(QLatin1Char('='), 0, 0);
        if (withValue.contains(key) && key != name)
            continue; // -style=Fusion
        if (withValue.contains(name) && i + 1 < arguments.size()) {
            ++i; // -platform offscreen
            continue;
        }
        if (!flags.contains(name))
            kept << argument;
    }
    return kept;
}

void setField(UpgradeWindow& window, const char* objectName, const QString& text)
{
    // The window names its fields; a missing one is a fault of this build, not of the input.
    auto* field = window.findChild<QLineEdit*>(QString::fromLatin1(objectName));
    Q_ASSERT(field);
    if (field)
        field->setText(text);
}

// The program's own options, as added to its parser.
struct ProgramOptions {
    QCommandLineOption help;
    QCommandLineOption version;
    QCommandLineOption record;
    QCommandLineOption target;
    QCommandLineOption production;
};

ProgramOptions addProgramOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Tolvane: firmware, PTZ tables and identities for DVRs."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Show the program's version."));
    parser.addOption(versionOption);
    const QCommandLineOption recordOption(
        QStringLiteral("record"),
        QStringLiteral("Keep every download in the production record RECORD (an SQLite file, or a "
                       "PostgreSQL connection string or URL) and refuse a MAC address it shows "
                       "used."),
        QStringLiteral("RECORD"));
    parser.addOption(recordOption);
    const QCommandLineOption targetOption(
        QStringLiteral("target"),
        QStringLiteral("The recorder to fill in: an IPv4 address, and a port (5000 unless "
                       "given)."),
        QStringLiteral("HOST[:PORT]"));
    parser.addOption(targetOption);
    const QCommandLineOption productionOption(
        QStringLiteral("production"),
        QStringLiteral("Open the production window: many recorders at once, with consecutive MAC "
                       "addresses and serial numbers kept in the production record."));
    parser.addOption(productionOption);
    parser.addPositionalArgument(QStringLiteral("IMAGE"),
                                 QStringLiteral("The image path to fill in."),
                                 QStringLiteral("[IMAGE]"));
    return {helpOption, versionOption, recordOption, targetOption, productionOption};
}

// The options to open the window with, from a parser that read the words.
CommandLine readStartOptions(const QCommandLineParser& parser, const ProgramOptions& program)
{
    CommandLine result;
    StartOptions options;
    options.production = parser.isSet(program.production);
    if (parser.isSet(program.record))
        options.recordPath = parser.value(program.record);
    if (parser.isSet(program.target)) {
        const auto target = parseTarget(parser.value(program.target).toStdString());
        if (!target) {
            result.exitStatus = 2;
            result.text = usageError(QStringLiteral("bad --target '%1': %2")
                                         .arg(parser.value(program.target),
                                              QString::fromStdString(target.failure().text())));
            return result;
        }
        options.target = *target;
    }
    const QStringList images = parser.positionalArguments();
    if (images.size() > 1) {
        result.exitStatus = 2;
        result.text =
            usageError(QStringLiteral("one image path at most, not %1").arg(images.size()));
        return result;
    }
    if (!images.isEmpty())
        options.imagePath = images.front();
    result.options = options;
    return result;
}

// The raw word that gave --record its value: after "--record", or after "--record=".
std::optional<std::string> rawRecordWord(const std::vector<std::string>& words,
                                         const QString& value)
{
    const std::string option = "--record";
    for (std::size_t i = 1; i < words.size(); ++i) {
        std::string word = words[i];
        if (word.starts_with(option + "="))
            word.erase(0, option.size() + 1);
        else if (word == option && i + 1 < words.size())
            word = words[++i];
        else
            continue;
        if (QString::fromLocal8Bit(word.c_str()) == value)
            return word;
    }
    return std::nullopt;
}

} // namespace

CommandLine readCommandLine(const QStringList& arguments,
                            const std::vector<std::string>& rawArguments)
{
    QCommandLineParser parser;
    const ProgramOptions program = addProgramOptions(parser);
    CommandLine result;
    if (!parser.parse(withoutToolkitOptions(arguments))) {
        result.exitStatus = 2;
        result.text = usageError(parser.errorText());
        return result;
    }
    if (parser.isSet(program.help)) {
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(program.version)) {
        result.text = programName + QStringLiteral(" " TOLVANE_VERSION "\n");
        return result;
    }
    result = readStartOptions(parser, program);
    if (result.options && result.options->recordPath)
        result.options->recordBytes = rawRecordWord(rawArguments, *result.options->recordPath);
    return result;
}

void applyStartOptions(UpgradeWindow& window, const StartOptions& options)
{
    if (options.target) {
        setField(window, "targetIpEdit", QString::fromStdString(options.target->address));
        setField(window, "targetPortEdit", QString::number(options.target->port));
    }
    if (options.imagePath)
        setField(window, "imagePathEdit", *options.imagePath);
}

UpgradeApp::UpgradeApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tolvane"));
    setApplicationVersion(QStringLiteral(TOLVANE_VERSION));
    setWindowIcon(tolvaneIcon());
}

bool UpgradeApp::initSocketLayer()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

int UpgradeApp::run(const StartOptions& options)
{
    QtPrompter prompter;
    return run(prompter, options);
}

int UpgradeApp::run(Prompter& prompter, const StartOptions& options)
{
    if (!initSocketLayer()) {
        prompter.showMessage(nullptr, MessageId::SocketLayerStartFailed);
        return 1;
    }
    std::unique_ptr<record::ProductionRecord> productionRecord;
    if (options.recordPath) {
        // A file name as its bytes were given, or else as this system names files.
        const std::string location =
            options.recordBytes.value_or(QFile::encodeName(*options.recordPath).toStdString());
        auto opened = record::openProductionRecord(location);
        if (!opened) {
            prompter.showMessage(nullptr, MessageId::CannotWriteRecord,
                                 QString::fromStdString(opened.failure().text()));
            return 1;
        }
        productionRecord = std::move(*opened);
    }
    UpgradeWindow window(prompter);
    window.setProductionRecord(productionRecord.get());
    applyStartOptions(window, options);
    window.exec();
    return 0;
}

} // namespace tolvane
