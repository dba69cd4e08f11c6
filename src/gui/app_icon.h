#pragma once

#include <QIcon>

namespace tolvane {

// The program's icon, in the sizes window managers ask for.
QIcon tolvaneIcon();

} // namespace tolvane
