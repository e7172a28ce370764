// libFuzzer target: a text of any make-up goes into the editor's blocks opened, pasted in pieces
// and cut after it grew, each cut after the one before, and comes back exactly. Each input byte is
// a run of one character kind (its low four bits) repeated (its high four): long paragraphs of
// lines, separators, marks and pairs are a few bytes away.
#include "cuewright/editor/TextBridge.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>

namespace {

using cw::editor::TextInsertion;

const char16_t* const kinds[16] = {u"\u2028", u"\u2029", u"\u3000",  u" ",           u"漢", u"\U0001F600",
                                   u"\u0301", u"\u05D0", u"\n",      u"x",           u"\r", u"\U0001F1E9",
                                   u"\t",     u"\uFFFC", u"e\u0301", u"\u0627\u064E"};

void check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

// Every block within the limits, and no more of them than the text's paragraphs and a cut for
// each few hundred characters.
void checkBlocks(const QTextDocument& document, const QString& text, int bound) {
    check(document.blockCount() <= bound);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        check(!cw::editor::isPastLimits(block));
    }
    check(cw::editor::attributedText(document).string() == text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) {
        return 0;
    }
    QString text;
    // Past twice the longest block and no further: the fuzzer tries more texts.
    for (size_t i = 1; i < size && text.size() < 34000; ++i) {
        const int repeat = 1 + (data[i] >> 4) * (data[i] >> 4) * 4;
        text += QString::fromUtf16(kinds[data[i] & 15]).repeated(repeat);
    }
    int breaks = 0;
    for (const QChar c : text) {
        breaks += c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
    }
    const int bound = breaks + int(text.size()) / 200 + 2;
    // Every cut of a paragraph lies after the one before and within it.
    for (int from = 0, end = 0, cuts = 0; from < text.size(); from = end + 1) {
        for (end = from; end < text.size() && text[end] != u'\n' && text[end] != u'\r' &&
                         text[end] != QChar::ParagraphSeparator;
             ++end) {
        }
        for (int at = from;; ++cuts) {
            const auto [cut, characterless] = TextInsertion::cutPosition(text, at, end);
            check(cut <= end && (cut > at || cut == end) && cuts <= bound);
            if (cut == end) {
                break;
            }
            at = characterless ? cut : cut + 1;
        }
    }
    const int piece = 1 << (8 + data[0] % 8);
    QTextDocument opened;
    TextInsertion opening(opened, platform::AttributedString(text));
    for (int turns = 0; !opening.insert(piece); ++turns) {
        check(turns <= bound + int(text.size()) * TextInsertion::runCost / piece);
    }
    checkBlocks(opened, text, bound);

    QTextDocument pasted;
    cw::editor::PasteInsertion paste(QTextCursor(&pasted), platform::AttributedString(text),
                                     cw::editor::toTextCharFormat);
    for (int turns = 0; !paste.insert(piece); ++turns) {
        check(turns <= bound + int(text.size()) / piece);
    }
    checkBlocks(pasted, text, bound);

    // Grown whole into its blocks, then cut as typing cuts it.
    QTextDocument grown;
    TextInsertion::insertParagraphs(grown, platform::AttributedString(text));
    cw::editor::cutLongBlocks(grown, 0, grown.characterCount() - 1);
    checkBlocks(grown, text, bound);
    return 0;
}
