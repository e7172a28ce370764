#include "cuewright/editor/LineMetrics.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace cw::editor {

int spaceSeparatedWordCount(QStringView text) {
    int words = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool separates = c == u' ';
        words += !separates && !inWord ? 1 : 0;
        inWord = !separates;
    }
    return words;
}

LineMetrics measureLines(const QTextDocument& document) {
    LineMetrics metrics;
    if (document.isEmpty()) {
        return metrics;
    }
    document.documentLayout()->documentSize(); // lays out whatever is still pending

    const QTextBlock last = document.lastBlock();
    // The empty paragraph after a final break has a line in Qt's layout but no characters.
    const bool endsWithBreak = last.length() == 1 && last != document.firstBlock();
    long words = 0;
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
        if (endsWithBreak && block == last) {
            break;
        }
        const QTextLayout* layout = block.layout();
        const QString text = block.text();
        const bool hasBreak = block.next().isValid();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const bool closesParagraph = hasBreak && i + 1 == layout->lineCount();
            // The break counts as a character of the line, as it is one of the text.
            QString lineText = text.mid(line.textStart(), line.textLength());
            if (closesParagraph) {
                lineText += u'\n';
            }
            words += spaceSeparatedWordCount(lineText);
            metrics.lineRanges.push_back({int(metrics.lineRanges.size()) + 1,
                                          {block.position() + line.textStart(), int(lineText.size())}});
        }
    }
    metrics.lineCount = int(metrics.lineRanges.size()) + (endsWithBreak ? 1 : 0);
    if (metrics.lineCount > 0) {
        metrics.wordsPerLine = double(words) / metrics.lineCount;
    }
    return metrics;
}

} // namespace cw::editor
