#include "platform/ui/StandardShortcut.h"

#include <QList>

#include <utility>

namespace platform {

QKeySequence standardShortcut(QKeySequence::StandardKey key) {
    const QList<QKeySequence> themed = QKeySequence::keyBindings(key);
    if (!themed.isEmpty()) {
        return themed.constFirst();
    }
    using SK = QKeySequence;
    static constexpr std::pair<QKeySequence::StandardKey, QKeyCombination> desktop[] = {
        {SK::New, Qt::CTRL | Qt::Key_N},
        {SK::Open, Qt::CTRL | Qt::Key_O},
        {SK::Save, Qt::CTRL | Qt::Key_S},
        {SK::SaveAs, Qt::CTRL | Qt::SHIFT | Qt::Key_S},
        {SK::Print, Qt::CTRL | Qt::Key_P},
        {SK::Close, Qt::CTRL | Qt::Key_W},
        {SK::Quit, Qt::CTRL | Qt::Key_Q},
        {SK::Undo, Qt::CTRL | Qt::Key_Z},
        {SK::Redo, Qt::CTRL | Qt::SHIFT | Qt::Key_Z},
        {SK::Cut, Qt::CTRL | Qt::Key_X},
        {SK::Copy, Qt::CTRL | Qt::Key_C},
        {SK::Paste, Qt::CTRL | Qt::Key_V},
        {SK::SelectAll, Qt::CTRL | Qt::Key_A},
        {SK::Find, Qt::CTRL | Qt::Key_F},
        {SK::Preferences, Qt::CTRL | Qt::Key_Comma},
        {SK::HelpContents, QKeyCombination(Qt::Key_F1)},
        {SK::FullScreen, QKeyCombination(Qt::Key_F11)},
    };
    for (const auto& [standard, combination] : desktop) {
        if (standard == key) {
            return QKeySequence(combination);
        }
    }
    return {};
}

} // namespace platform
