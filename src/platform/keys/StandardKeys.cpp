#include "platform/keys/StandardKeys.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace platform {

namespace {

using SK = QKeySequence;

struct Row {
    QKeySequence::StandardKey command;
    bool editing;
    std::array<QKeyCombination, 2> keys; // a second key where the desktops have one
};

constexpr QKeyCombination none{};

// GNOME's and KDE's keys.
constexpr Row table[] = {
    {SK::New, false, {Qt::CTRL | Qt::Key_N, none}},
    {SK::Open, false, {Qt::CTRL | Qt::Key_O, none}},
    {SK::Save, false, {Qt::CTRL | Qt::Key_S, none}},
    {SK::SaveAs, false, {Qt::CTRL | Qt::SHIFT | Qt::Key_S, none}},
    {SK::Print, false, {Qt::CTRL | Qt::Key_P, none}},
    {SK::Close, false, {Qt::CTRL | Qt::Key_W, none}},
    {SK::Quit, false, {Qt::CTRL | Qt::Key_Q, none}},
    {SK::Find, false, {Qt::CTRL | Qt::Key_F, none}},
    {SK::Preferences, false, {Qt::CTRL | Qt::Key_Comma, none}},
    {SK::HelpContents, false, {QKeyCombination(Qt::Key_F1), none}},
    {SK::FullScreen, false, {QKeyCombination(Qt::Key_F11), none}},
    {SK::Undo, true, {Qt::CTRL | Qt::Key_Z, none}},
    {SK::Redo, true, {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y}},
    {SK::Cut, true, {Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete}},
    {SK::Copy, true, {Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert}},
    {SK::Paste, true, {Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert}},
    {SK::SelectAll, true, {Qt::CTRL | Qt::Key_A, none}},
    {SK::Bold, true, {Qt::CTRL | Qt::Key_B, none}},
    {SK::Italic, true, {Qt::CTRL | Qt::Key_I, none}},
    {SK::Underline, true, {Qt::CTRL | Qt::Key_U, none}},
    {SK::DeleteStartOfWord, true, {Qt::CTRL | Qt::Key_Backspace, none}},
    {SK::DeleteEndOfWord, true, {Qt::CTRL | Qt::Key_Delete, none}},
    {SK::MoveToNextWord, true, {Qt::CTRL | Qt::Key_Right, none}},
    {SK::MoveToPreviousWord, true, {Qt::CTRL | Qt::Key_Left, none}},
    {SK::SelectNextWord, true, {Qt::CTRL | Qt::SHIFT | Qt::Key_Right, none}},
    {SK::SelectPreviousWord, true, {Qt::CTRL | Qt::SHIFT | Qt::Key_Left, none}},
    {SK::MoveToStartOfDocument, true, {Qt::CTRL | Qt::Key_Home, none}},
    {SK::MoveToEndOfDocument, true, {Qt::CTRL | Qt::Key_End, none}},
    {SK::SelectStartOfDocument, true, {Qt::CTRL | Qt::SHIFT | Qt::Key_Home, none}},
    {SK::SelectEndOfDocument, true, {Qt::CTRL | Qt::SHIFT | Qt::Key_End, none}},
};

const Row* rowOf(QKeySequence::StandardKey command) {
    const auto row =
        std::find_if(std::begin(table), std::end(table), [&](const Row& r) { return r.command == command; });
    return row == std::end(table) ? nullptr : &*row;
}

} // namespace

QList<QKeySequence> standardKeys(QKeySequence::StandardKey command) {
    QList<QKeySequence> keys;
    if (const Row* row = rowOf(command)) {
        for (const QKeyCombination key : row->keys) {
            if (key != none) {
                keys.append(QKeySequence(key));
            }
        }
    }
    return keys;
}

std::optional<QKeySequence::StandardKey> standardCommandOfKey(QKeyCombination key) {
    for (const Row& row : table) {
        if (std::find(row.keys.begin(), row.keys.end(), key) != row.keys.end() && key != none) {
            return row.command;
        }
    }
    return std::nullopt;
}

bool isEditingCommand(QKeySequence::StandardKey command) {
    const Row* row = rowOf(command);
    return row != nullptr && row->editing;
}

} // namespace platform
