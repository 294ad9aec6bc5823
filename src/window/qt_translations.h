#pragma once

namespace dbsetup {

// Qt's own texts in Chinese: the buttons of message boxes (确定, 是, 否) and
// the file dialog read like the rest of the window. Loads Qt's translation
// qtbase_zh_CN from Qt's translations folder (found at run time), else from
// "translations" beside the program. True when one was loaded; without it
// the message boxes name their buttons themselves and the file dialog stays
// in Qt's English.
bool install_qt_translations();
void remove_qt_translations();
bool qt_translations_installed();

}  // namespace dbsetup
