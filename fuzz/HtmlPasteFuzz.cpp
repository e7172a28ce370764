// libFuzzer target: clipboard HTML decoded and read as a paste does, then restyled by the paste rules.
// The read's work is bounded by the input's size: its text is never longer than the input.
#include "cuewright/editor/ClipboardText.h"
#include "cuewright/editor/PasteRules.h"

#include <QMimeData>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes as the clipboard hands them over: decoded as a paste decodes them.
    QMimeData source;
    source.setData(QStringLiteral("text/html"),
                   QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const QString html = cw::editor::ClipboardText::htmlOf(source);
    const cw::editor::ClipboardText::HtmlPaste paste = cw::editor::ClipboardText::readHtml(html);
    if (paste.text.length() > html.size() || paste.bytesParsed > html.toUtf8().size()) {
        __builtin_trap();
    }
    cw::ScriptImport::DefaultStyle style;
    (void)cw::editor::pastedText(paste.text, style, 20.0);
    return 0;
}
