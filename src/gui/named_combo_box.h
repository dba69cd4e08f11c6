#pragma once

namespace tolvane {

// Qt on Linux gives a drop-down list its current entry as accessible name, so a screen reader
// reads "NONE" for the Parity list. Installed once, every drop-down list is named by its
// accessible name (its caption) when it has one; the entry remains its value.
void nameComboBoxesByCaption();

} // namespace tolvane
