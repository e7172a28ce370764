// Whether a label shows its text literally: its picture against a plain-text twin's.
#pragma once

#include <QImage>
#include <QLabel>

namespace testsupport {

// True when `label` draws exactly what a label of the same font, size and layout draws with
// its text taken as plain text (tags shown as typed, nothing loaded).
inline bool showsPlainText(const QLabel& label) {
    QLabel twin;
    twin.setTextFormat(Qt::PlainText);
    twin.setFont(label.font());
    twin.setPalette(label.palette());
    twin.setAlignment(label.alignment());
    twin.setWordWrap(label.wordWrap());
    twin.setMargin(label.margin());
    twin.setIndent(label.indent());
    twin.setContentsMargins(label.contentsMargins());
    twin.setText(label.text());
    twin.resize(label.size());
    const auto picture = [](const QLabel& l) {
        return const_cast<QLabel&>(l).grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    return picture(label) == picture(twin);
}

} // namespace testsupport
