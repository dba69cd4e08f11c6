#include "gui/app_icon.h"

#include <QFile>

// The resources live in a static library; nothing would pull them in without this call, and
// Q_INIT_RESOURCE must be used outside any namespace.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace tolvane {

QIcon tolvaneIcon()
{
    initResources();
    QIcon icon;
    for (const char* path : {":/icons/tolvane-32.png", ":/icons/tolvane-64.png"})
        icon.addFile(QString::fromLatin1(path));
    return icon;
}

} // namespace tolvane
