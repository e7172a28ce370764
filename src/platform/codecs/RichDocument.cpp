#include "platform/codecs/RichDocument.h"

namespace platform::codecs {

QString Paragraph::plainText() const {
    QString text;
    for (const TextRun& run : runs)
        text += run.text;
    return text;
}

QString RichDocument::plainText() const {
    QString text;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
            text += u'\n';
        text += paragraphs[i].plainText();
    }
    return text;
}

void RichDocument::startParagraph(ParagraphAlignment alignment) {
    paragraphs.push_back(Paragraph{alignment, {}});
}

void RichDocument::append(const QString& text, const RunStyle& style) {
    if (text.isEmpty())
        return;
    if (paragraphs.empty())
        startParagraph();
    std::vector<TextRun>& runs = paragraphs.back().runs;
    if (!runs.empty() && runs.back().style == style) {
        runs.back().text += text;
        return;
    }
    runs.push_back(TextRun{text, style});
}

} // namespace platform::codecs
