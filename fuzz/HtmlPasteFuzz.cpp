// libFuzzer target: HTML from another program as a paste reads it and the paste rules restyle it.
// The read's work is bounded by the input's size: its text is never longer than the input.
#include "cuewright/editor/ClipboardText.h"
#include "cuewright/editor/PasteRules.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString html = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const cw::editor::ClipboardText::HtmlPaste paste = cw::editor::ClipboardText::readHtml(html);
    if (paste.text.length() > html.size() || paste.bytesParsed > html.toUtf8().size()) {
        __builtin_trap();
    }
    cw::ScriptImport::DefaultStyle style;
    (void)cw::editor::pastedText(paste.text, style, 20.0);
    return 0;
}
