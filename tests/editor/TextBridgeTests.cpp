// The script text through a QTextDocument and back: every attribute kept, edits through Qt read.
#include "CancelSupport.h"
#include "cuewright/editor/ClipboardText.h"
#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/ProgressWindow.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/editor/TextFinder.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/RichTextFile.h"
#include "platform/text/RtfReader.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <memory>
#include <optional>
#include <random>

using platform::AttributedString;
using platform::Attributes;
using platform::Color;
using platform::Font;
using platform::ParagraphStyle;
namespace Underline = platform::UnderlineStyle;

namespace {

AttributedString roundTrip(const AttributedString& text) {
    QTextDocument document;
    cw::editor::setAttributedText(document, text);
    return cw::editor::attributedText(document);
}

void expectSame(const AttributedString& expected, const AttributedString& actual) {
    ASSERT_EQ(expected.string(), actual.string());
    const auto a = expected.runs();
    const auto b = actual.runs();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].range, b[i].range) << "run " << i;
        EXPECT_EQ(a[i].attributes, b[i].attributes) << "run " << i << " at " << a[i].range.location;
    }
}

// Every attribute the model stores, with values Qt cannot hold exactly (colour spaces, fine
// components, fractional sizes), several separators, and a bookmark on a paragraph start.
AttributedString everyAttribute() {
    ParagraphStyle centred;
    centred.alignment = platform::ParagraphAlignment::center;
    centred.lineBreakMode = platform::LineBreakMode::truncatingTail;
    centred.baseWritingDirection = platform::WritingDirection::rightToLeft;
    centred.firstLineHeadIndent = 12.5;
    centred.headIndent = 3;
    centred.tailIndent = -4;
    centred.lineSpacing = 1.5;
    centred.paragraphSpacing = 6;
    centred.paragraphSpacingBefore = 2;
    centred.lineHeightMultiple = 1.2;
    centred.minimumLineHeight = 10;
    centred.maximumLineHeight = 40;
    ParagraphStyle right;
    right.alignment = platform::ParagraphAlignment::right;

    Attributes plain;
    plain.font = Font{QStringLiteral("DejaVu Serif"), 34.25, false, false};
    plain.foregroundColor = Color(0.123456, 0.5, 0.99999, 0.75, Color::Space::genericRGB);
    plain.paragraphStyle = centred;
    Attributes styled = plain;
    styled.font = plain.font->withTraits(true, true);
    styled.backgroundColor = Color::gray(0.333333);
    styled.underlineStyle = Underline::doubleLine | Underline::patternDashDot | Underline::byWord;
    styled.underlineColor = Color::red();
    Attributes noneUnderlined = plain;
    noneUnderlined.underlineStyle = Underline::none;
    noneUnderlined.underlineColor = Color::blue();
    Attributes marked = plain;
    marked.bookmark = std::make_shared<platform::EmbeddedBookmark>(
        platform::EmbeddedBookmark{QStringLiteral("id-1"), 7, QStringLiteral("note"), 2});
    marked.passThrough = {{QStringLiteral("link"), QStringLiteral("https://example.org/")}};
    Attributes otherParagraph = plain;
    otherParagraph.paragraphStyle = right;

    AttributedString text;
    text.append(QStringLiteral("*"), marked);
    text.append(QStringLiteral("Opening\tline "), plain);
    text.append(QStringLiteral("loud"), styled);
    text.append(QStringLiteral(" quiet\u2028soft"), noneUnderlined);
    text.append(QStringLiteral("\n"), plain);
    text.append(QStringLiteral("unstyled"), Attributes{});
    text.append(QStringLiteral("\n\nright\r"), otherParagraph);
    text.append(QStringLiteral("after return\u2029"), plain);
    text.append(QStringLiteral("mixed"), otherParagraph); // a second style inside one paragraph
    text.append(QStringLiteral(" end\n"), plain);
    return text;
}

} // namespace

TEST(TextBridge, RoundTripsEveryAttributeExactly) {
    const auto rtf = platform::readRichTextFile(QStringLiteral(CW_FIXTURES_DIR "/script-sample.rtf"));
    ASSERT_TRUE(rtf.has_value());
    const struct {
        const char* name;
        AttributedString text;
        int minLength;
    } cases[] = {
        {"every attribute", everyAttribute(), 1},
        {"empty", AttributedString(), 0},
        {"rtf fixture", *rtf, 100},
        {"docx fixture", platform::readDocxFile(QStringLiteral(CW_FIXTURES_DIR "/script-sample.docx")), 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GE(c.text.length(), c.minLength);
        const AttributedString back = roundTrip(c.text);
        expectSame(c.text, back);
        if (c.text.length() > 0) {
            // A bookmark comes back as the same object, not a copy.
            EXPECT_EQ(back.attributes(0).bookmark, c.text.attributes(0).bookmark);
        }
    }
}

TEST(TextBridge, QtShowsTheAttributesAndEditsThroughQtAreRead) {
    QTextDocument document;
    const AttributedString text = everyAttribute();
    cw::editor::setAttributedText(document, text);
    ASSERT_EQ(document.blockCount(), 7);
    EXPECT_EQ(document.firstBlock().blockFormat().alignment(), Qt::AlignHCenter);
    EXPECT_FALSE(document.isUndoAvailable());

    // "loud": bold italic, double underline shown as Qt's dash-dot line.
    QTextCursor cursor(&document);
    const int loud = int(text.string().indexOf(QStringLiteral("loud")));
    cursor.setPosition(loud + 1);
    EXPECT_TRUE(cursor.charFormat().font().bold());
    EXPECT_EQ(cursor.charFormat().underlineStyle(), QTextCharFormat::DashDotLine);

    // Recolour "loud", underline "quiet", centre the "right" paragraph through Qt.
    cursor.setPosition(loud);
    cursor.setPosition(loud + 4, QTextCursor::KeepAnchor);
    QTextCharFormat green;
    green.setForeground(QColor(Qt::green));
    cursor.mergeCharFormat(green);
    const int quiet = int(text.string().indexOf(QStringLiteral("quiet")));
    cursor.setPosition(quiet);
    cursor.setPosition(quiet + 5, QTextCursor::KeepAnchor);
    QTextCharFormat underlined;
    underlined.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    cursor.mergeCharFormat(underlined);
    const int rightAt = int(text.string().indexOf(QStringLiteral("right")));
    cursor.setPosition(rightAt);
    QTextBlockFormat centre;
    centre.setAlignment(Qt::AlignHCenter);
    cursor.mergeBlockFormat(centre);

    const AttributedString back = cw::editor::attributedText(document);
    EXPECT_EQ(back.attributes(loud).foregroundColor, Color::fromQColor(QColor(Qt::green)));
    EXPECT_EQ(back.attributes(loud).font, text.attributes(loud).font); // untouched: still exact
    EXPECT_EQ(back.attributes(quiet).underlineStyle, Underline::single);
    EXPECT_EQ(back.attributes(rightAt).paragraphStyle->alignment, platform::ParagraphAlignment::center);
    EXPECT_EQ(back.attributes(rightAt + 5).paragraphStyle->alignment, platform::ParagraphAlignment::center);
    EXPECT_EQ(back.attributes(0).paragraphStyle, text.attributes(0).paragraphStyle);
}

// Long texts of every line structure become blocks Qt can lay out cheaply (none far longer than
// maxBlockCharacters, short paragraphs sharing blocks) and come back exactly, each character at
// its place.
TEST(TextBridge, LongTextsOfAnyLineStructureGoInAsShortBlocksAndComeBackExactly) {
    using cw::editor::TextInsertion;
    const auto words = [](int count, const QString& between) {
        QStringList list;
        for (int i = 0; i < count; ++i)
            list << QStringLiteral("word%1").arg(i % 97);
        return list.join(between);
    };
    const auto lines = [](int count, const QString& line) {
        return QStringList(count, line).join(QChar::LineSeparator);
    };
    ParagraphStyle spaced;
    spaced.paragraphSpacing = 6;
    AttributedString styled(words(20000, QStringLiteral("\n")));
    styled.addAttribute(platform::AttributeName::paragraphStyle, QVariant::fromValue(spaced),
                        {0, styled.length()});
    // Runs without a space: one letter, CJK, surrogate pairs, combining sequences and flags (pairs
    // of regional indicators) that a cut every maxRunCharacters would split, and one long run amid
    // words.
    const auto repeated = [](const QString& unit, int characters) {
        return unit.repeated(characters / int(unit.size()));
    };
    const QString flags = QStringLiteral("ab") + repeated(QStringLiteral("\U0001F1E9\U0001F1EA"), 60000);
    AttributedString coloured(words(20000, QStringLiteral(" ")) + QStringLiteral("\n") +
                              words(20000, QStringLiteral("\r")) + QStringLiteral("\n"));
    coloured.addAttribute(platform::AttributeName::foregroundColor, QVariant::fromValue(Color::red()),
                          {100, 50000});
    const struct {
        const char* name;
        AttributedString text;
        int maxBlocks; // at most this many
    } cases[] = {
        {"one paragraph", AttributedString(words(200000, QStringLiteral(" "))), 200000 * 7 / 8192 + 1},
        {"a line per word", AttributedString(words(200000, QStringLiteral("\n"))), 200000 / 16},
        {"CR endings", AttributedString(words(200000, QStringLiteral("\r"))), 200000 / 16},
        {"CR LF endings", AttributedString(words(20000, QStringLiteral("\r\n"))), 40001},
        {"line separators of its own", AttributedString(lines(200, words(100, QStringLiteral(" ")))), 20},
        {"spaced paragraphs", styled, 20000},
        {"coloured, joined and cut", coloured, 20000 / 16 + 40},
        {"no space", AttributedString(QString(200000, u'x')), 200000 / 1000},
        {"CJK without spaces", AttributedString(repeated(QStringLiteral("漢字仮名交じり文"), 100000)), 100},
        {"surrogate pairs",
         AttributedString(QStringLiteral("a") + repeated(QStringLiteral("\U0001F600"), 60000)), 120},
        {"combining sequences", AttributedString(repeated(QStringLiteral("e\u0301\u0302"), 60000)), 60},
        {"flags", AttributedString(flags), 60},
        {"a long run amid words",
         AttributedString(words(3000, QStringLiteral(" ")) + QStringLiteral(" ") + QString(50000, u'x') +
                          QStringLiteral(" ") + words(3000, QStringLiteral(" "))),
         60},
        // No space, but a line separator at least every maxRunCharacters.
        {"CJK lines", AttributedString(lines(400, QStringLiteral("漢字仮名交じり文").repeated(6).left(47))),
         3},
        {"line separators alone", AttributedString("start" + QString(30000, u'\u2028') + "end"), 3},
        {"links one to a line", AttributedString(lines(700, "https://example.org/page/1234")), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument document;
        cw::editor::setAttributedText(document, c.text);
        EXPECT_LE(document.blockCount(), c.maxBlocks);
        int longest = 0;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
            longest = std::max(longest, block.length());
        EXPECT_LE(longest, TextInsertion::maxBlockCharacters + 1);
        expectSame(c.text, cw::editor::attributedText(document));
        EXPECT_TRUE(cw::editor::plainText(document).string == c.text.string());
        // A cut that stands for no character lies between two graphemes.
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, c.text.string());
        for (const int cut : cw::editor::characterlessCuts(document)) {
            graphemes.setPosition(cut);
            EXPECT_TRUE(graphemes.isAtBoundary()) << cut;
        }
    }
}

// Where a long paragraph was cut into blocks, the break is the space it was cut at: text typed
// after such a break, in a block emptied of its own, takes nothing of it, so an Enter typed there
// is a line break.
TEST(TextBridge, WhatIsTypedAfterACutSpaceIsItsOwn) {
    const QString paragraph = QStringLiteral("one paragraph without end ");
    const QString text =
        paragraph.repeated(2 * cw::editor::TextInsertion::maxBlockCharacters / int(paragraph.size()) + 1);
    cw::editor::ScriptTextView view;
    cw::editor::setAttributedText(*view.document(), AttributedString(text));
    const QTextBlock second = view.document()->begin().next();
    ASSERT_TRUE(second.isValid());
    const int from = second.position();
    const int to = from + second.length() - 1;
    QTextCursor cursor(second);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    view.setTextCursor(cursor);
    QTest::keyClicks(&view, QStringLiteral("x"));
    QTest::keyClick(&view, Qt::Key_Return);
    QTest::keyClicks(&view, QStringLiteral("y"));
    const QString typed = cw::editor::attributedText(*view.document()).string();
    EXPECT_EQ(typed.mid(from, 3).toStdString(), "x\ny");
    EXPECT_TRUE(typed == text.left(from) + QStringLiteral("x\ny") + text.mid(to));
}

// What leaves the view (Copy as Cuewright's own flavour, as plain text and as HTML, Cut, and Paste
// or a drop back) is the text as it is: no paragraph break where a long paragraph was cut, with
// or without a space there, and the characters a QTextDocument keeps for itself (an object's, a
// frame's start and end, its paragraph break) where they stood, with their bold, italic,
// underline and colour.
class DraggingView : public cw::editor::ScriptTextView {
public:
    using ScriptTextView::createMimeDataFromSelection; // what a drag out of the view carries
};

TEST(TextBridge, CopyCutPasteAndDropCarryTheTextAsItIs) {
    platform::Attributes bold;
    bold.font = Font{QString(), 30, true, false};
    platform::Attributes italicRed;
    italicRed.font = Font{QString(), 30, false, true};
    italicRed.foregroundColor = Color::red();
    platform::Attributes underlined;
    underlined.underlineStyle = Underline::single;
    AttributedString rare(QStringLiteral("before\n"));
    rare.append(QStringLiteral("a picture \uFFFC stood here\n"), bold);
    rare.append(QStringLiteral("frame \uFDD0 start\nframe \uFDD1 end\n"), italicRed);
    rare.append(QStringLiteral("paragraph \u2029 break\n"), underlined);
    rare.append(QStringLiteral("\uFFFC\uFDD0\uFDD1\u2029\n\uE000 private\nafter"), {});
    const AttributedString texts[] = {
        AttributedString(
            QStringLiteral("one two three four five six seven eight nine ten ").repeated(1429).left(70020)),
        AttributedString(QString(40000, u'x')),
        AttributedString(QStringLiteral("漢字仮名交じり文").repeated(4000)), rare};
    const auto traits = [](const AttributedString& text) {
        QString shown;
        for (int at = 0; at < text.length(); ++at) {
            const platform::Attributes a = text.attributes(at);
            shown += QChar(u'a' + (a.font && a.font->bold) + 2 * (a.font && a.font->italic) +
                           4 * a.underlineStyle.has_value() + 8 * (a.foregroundColor == Color::red()));
        }
        return shown;
    };
    for (const AttributedString& text : texts) {
        SCOPED_TRACE(text.string().left(10).toStdString());
        DraggingView view;
        view.show();
        cw::editor::setAttributedText(*view.document(), text);
        ASSERT_GT(view.document()->blockCount(), 1);
        view.selectAll();
        view.copy();
        const QMimeData* copied = QApplication::clipboard()->mimeData();
        ASSERT_NE(copied, nullptr);
        EXPECT_TRUE(copied->text() == text.string()) << "plain text";
        EXPECT_TRUE(cw::editor::ClipboardText::fromHtml(copied->html()).string() == text.string()) << "HTML";
        const auto own =
            platform::readRtf(copied->data(QString::fromLatin1(cw::editor::ClipboardText::scriptMimeType)));
        ASSERT_TRUE(own.has_value());
        EXPECT_TRUE(own->string() == text.string()) << "Cuewright's own flavour";
        view.cut();
        EXPECT_TRUE(cw::editor::attributedText(*view.document()).string().isEmpty());
        view.paste();
        const AttributedString pasted = cw::editor::attributedText(*view.document());
        EXPECT_TRUE(pasted.string() == text.string()) << "pasted back";
        EXPECT_EQ(traits(pasted), traits(text));
        EXPECT_GT(view.document()->blockCount(), 1) << "pasted whole into one block";

        // A drop of what a drag out of the view carries.
        view.selectAll();
        std::unique_ptr<QMimeData> dragged(view.createMimeDataFromSelection());
        view.clear();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, dragged.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, dragged.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &drop);
        EXPECT_TRUE(cw::editor::attributedText(*view.document()).string() == text.string()) << "dropped";
    }
}

namespace {

// Every block of the document within the limits the editor holds a block to.
void expectBlocksWithinLimits(const QTextDocument& document) {
    using cw::editor::TextInsertion;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        ASSERT_LE(text.size(), TextInsertion::maxBlockCharacters) << "block at " << block.position();
        int run = 0;
        for (const QChar c : text) {
            const bool breaks = c == u' ' || c == u'\t' || c == QChar(0x3000) || c == QChar::LineSeparator;
            run = breaks ? 0 : run + 1;
            ASSERT_LE(run, TextInsertion::maxRunCharacters)
                << "a long run in the block at " << block.position();
        }
    }
}

void paste(cw::editor::ScriptTextView& view, const QString& text) {
    QApplication::clipboard()->setText(text);
    view.paste();
}

} // namespace

// Whatever grows a paragraph (pastes one after another, typing, an insertion at a cursor as
// Replace All makes) leaves it in blocks within the limits, as opening the same text would, and
// the text as it is; one undo takes each step back.
TEST(TextBridge, AParagraphGrownPastTheLimitsIsCutAsOpeningCutsIt) {
    using cw::editor::ScriptTextView;
    using cw::editor::TextInsertion;
    const QString words = QStringLiteral("one two three four five six seven eight nine ten ").repeated(400);
    const QString lines35 = QStringList(455, QString(35, u'漢')).join(u'\u2028'); // 16,379 characters
    const struct {
        const char* what;
        QString start;
        std::function<void(ScriptTextView&)> grow;
        QString grown;
    } cases[] = {
        {"pastes without a space", QStringLiteral("a b"),
         [](ScriptTextView& v) {
             v.moveCursor(QTextCursor::End);
             for (int i = 0; i < 3; ++i) {
                 paste(v, QString(16000, u'x'));
             }
         },
         QStringLiteral("a b") + QString(48000, u'x')},
        {"a paste over all", QStringLiteral("one\ntwo"),
         [](ScriptTextView& v) {
             v.selectAll();
             paste(v, QString(3000, u'x'));
         },
         QString(3000, u'x')},
        {"a paste amid a run", QString(900, u'y') + QString(900, u'z'),
         [](ScriptTextView& v) {
             QTextCursor at(v.document());
             at.setPosition(900);
             v.setTextCursor(at);
             paste(v, QString(900, u'x'));
         },
         QString(900, u'y') + QString(900, u'x') + QString(900, u'z')},
        {"pastes of words", words,
         [&](ScriptTextView& v) {
             v.moveCursor(QTextCursor::End);
             paste(v, words);
             paste(v, words);
         },
         words.repeated(3)},
        {"a letter typed onto a run", QString(TextInsertion::maxRunCharacters, u'x'),
         [](ScriptTextView& v) {
             v.moveCursor(QTextCursor::End);
             QTest::keyClicks(&v, QStringLiteral("x"));
         },
         QString(TextInsertion::maxRunCharacters + 1, u'x')},
        {"a letter typed onto a long paragraph", words.left(TextInsertion::maxBlockCharacters),
         [](ScriptTextView& v) {
             v.moveCursor(QTextCursor::End);
             QTest::keyClicks(&v, QStringLiteral("q"));
         },
         words.left(TextInsertion::maxBlockCharacters) + u'q'},
        {"an insertion at a cursor", QStringLiteral("start end"),
         [](ScriptTextView& v) {
             QTextCursor cursor(v.document());
             cursor.setPosition(6);
             v.namedEdit(QStringLiteral("Replace All"), [](QTextCursor& c) {
                 c.setPosition(6);
                 cw::editor::insertText(c, AttributedString(QString(5000, u'w')),
                                        [](const Attributes& a) { return cw::editor::toTextCharFormat(a); });
             });
         },
         QStringLiteral("start ") + QString(5000, u'w') + QStringLiteral("end")},
        {"a letter typed after lines joined by Shift+Return", lines35,
         [](ScriptTextView& v) {
             v.moveCursor(QTextCursor::End);
             QTest::keyClick(&v, Qt::Key_Return, Qt::ShiftModifier);
             QTest::keyClicks(&v, QStringLiteral("abcdef"));
         },
         lines35 + u'\u2028' + QStringLiteral("abcdef")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptTextView view;
        cw::editor::setAttributedText(*view.document(), AttributedString(c.start));
        view.document()->setUndoRedoEnabled(true);
        // A paste foretells the amount of text after it (the size it is shown at follows).
        std::optional<cw::EditorAppearance::TextAmount> foretold;
        view.setInsertionGuard([&](const cw::EditorAppearance::TextAmount& after) {
            foretold = after;
            return std::optional<bool>(false);
        });
        c.grow(view);
        if (foretold) {
            const auto amount = cw::EditorAppearance::textAmount(*view.document());
            EXPECT_EQ(foretold->characters, amount.characters);
            EXPECT_EQ(foretold->paragraphs, amount.paragraphs);
            EXPECT_EQ(foretold->longestParagraph, amount.longestParagraph);
        }
        EXPECT_TRUE(cw::editor::attributedText(*view.document()).string() == c.grown);
        EXPECT_TRUE(cw::editor::plainText(*view.document()).string == c.grown);
        expectBlocksWithinLimits(*view.document());
        QTextDocument opened;
        cw::editor::setAttributedText(opened, AttributedString(c.grown));
        EXPECT_EQ(view.document()->blockCount(), opened.blockCount());
        view.undo();
        EXPECT_FALSE(cw::editor::attributedText(*view.document()).string() == c.grown) << "undone";
    }
}

// Any text, whatever it is made of (lines without a space, line separators alone, paragraph
// separators, ideographic spaces, surrogate pairs, combining marks, right-to-left letters) and at
// lengths around each bound, is cut in work its length bounds, each cut after the one before,
// whether opened or pasted (growing piece by piece); it comes back exactly.
TEST(TextBridge, AnyTextIsCutInBoundedWorkAndComesBackExactly) {
    using namespace cw::editor;
    const QStringList kinds =
        QStringLiteral("漢字,\U0001F600\U00020000,e\u0301\u0308,\u05D0\u0627\u064E,\u3000漢,"
                       "\u2029字,漢\U0001F600\u0301\u05D0\u3000\u2029")
            .split(u',');
    std::mt19937 random(74);
    for (int i = 0; i < 60; ++i) {
        // Lines of up to `line` characters of one kind, joined by line separators.
        const QList<uint> kind = kinds[random() % 7].toUcs4();
        const uint line = QList{0u, 47u, 1023u, 1100u, 1u << 15}[random() % 5];
        QString text;
        for (uint n = 0; text.size() < (1 << QList{10, 14, 15, 16}[i % 4]) + i % 7 - 3;
             n = n > 0 ? n - 1 : random() % (line + 1)) {
            const char32_t c = n > 0 ? kind[random() % kind.size()] : 0x2028;
            text += QString::fromUcs4(&c, 1);
        }
        SCOPED_TRACE(i);
        const int bound = int(text.count(u'\u2029') + text.size() / 200 + 2);
        for (int from = 0, cuts = 0; from < text.size(); ++cuts) {
            const int end = int(std::min(size_t(text.indexOf(u'\u2029', from)), size_t(text.size())));
            const auto [cut, characterless] = TextInsertion::cutPosition(text, from, end);
            ASSERT_TRUE((cut > from || cut == end) && cut <= end && cuts <= bound) << cut << " from " << from;
            from = characterless ? cut : cut + 1;
        }
        const int piece = QList{1000, 1 << 12, 1 << 14}[i % 3];
        QTextDocument opened, pasted;
        for (TextInsertion opening(opened, AttributedString(text)); !opening.insert(piece);) {
        }
        for (PasteInsertion paste(QTextCursor(&pasted), AttributedString(text), toTextCharFormat);
             !paste.insert(piece);) {
        }
        for (const QTextDocument* document : {&opened, &pasted}) {
            EXPECT_TRUE(attributedText(*document).string() == text);
            expectBlocksWithinLimits(*document);
            EXPECT_LE(document->blockCount(), bound);
            EXPECT_EQ(cw::EditorAppearance::textAmount(*document).paragraphs,
                      cw::EditorAppearance::textAmount(text).paragraphs);
        }
    }
}

// A named edit cuts what it grew and reads no block it left alone: one past the limits stays so.
TEST(TextBridge, ANamedEditCutsOnlyTheBlocksItChanged) {
    cw::editor::ScriptTextView view;
    const QString untouched(3000, u'u');
    cw::editor::TextInsertion::insertParagraphs(*view.document(), AttributedString(untouched + "\nshort"));
    view.document()->setUndoRedoEnabled(true);
    view.namedEdit(QStringLiteral("Replace All"), [](QTextCursor& c) {
        c.movePosition(QTextCursor::End);
        c.insertText(QString(3000, u'w'));
    });
    EXPECT_TRUE(view.document()->firstBlock().text() == untouched);
    EXPECT_EQ(view.document()->blockCount(), 4) << "the grown run is cut in three";
}

// A third click selects the paragraph under it: not the editor's block, which may hold several
// short paragraphs of a long text or a part of a long one, also when the hand moves a little
// before the release. A drag or a Shift+click from there extends by paragraphs.
TEST(TextBridge, AThirdClickSelectsTheParagraph) {
    using cw::editor::ScriptTextView;
    const QString line = QStringLiteral("A heading of its own\n");
    // Long enough for short paragraphs to share blocks.
    const QString many = line.repeated(cw::editor::TextInsertion::joinParagraphsFrom / int(line.size()) + 1);
    const QString longOne = QStringLiteral("Short\n") + QStringLiteral("one two three four ").repeated(2000) +
                            QStringLiteral("\nEnd");
    const QString run = QStringLiteral("Short\n") + QString(20000, u'x') + QStringLiteral("\nEnd");
    const struct {
        const char* what;
        QString text;
        QString selected; // with its break, of the fourth block clicked in
        QPoint hand{};    // how far the pointer moves before the release, y in lines
        int shiftClick = 0; // then Shift+click this many lines below
    } cases[] = {
        {"short paragraphs sharing a block", many, line},
        {"a long paragraph", longOne, longOne.section(u'\n', 1, 1) + u'\n'},
        {"a run without a space", run, QString(20000, u'x') + u'\n'},
        {"a moving hand, short paragraphs", many, line, {12, 0}},
        {"a moving hand, a long paragraph", longOne, longOne.section(u'\n', 1, 1) + u'\n', {-15, 0}},
        {"a drag a line down", many, line.repeated(2), {0, 1}},
        {"a Shift+click two lines up", many, line.repeated(3), {}, -2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptTextView view;
        view.resize(600, 400);
        view.show();
        cw::editor::setAttributedText(*view.document(), AttributedString(c.text));
        const QTextBlock block = view.document()->findBlockByNumber(3);
        ASSERT_TRUE(block.isValid());
        QTextCursor at(block);
        at.movePosition(QTextCursor::NextCharacter);
        view.setTextCursor(at);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + view.cursorRect().top() - 150);
        const QPoint point = view.cursorRect().center();
        const int lineHeight = view.cursorRect().height();
        const int scrolled = view.verticalScrollBar()->value();
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, point);
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, point);
        const QPoint released = point + QPoint(c.hand.x(), c.hand.y() * lineHeight);
        for (const QPoint& to : c.hand.isNull() ? QList<QPoint>() : QList{(point + released) / 2, released}) {
            QMouseEvent move(QEvent::MouseMove, to, view.viewport()->mapToGlobal(to), Qt::NoButton,
                             Qt::LeftButton, {});
            QApplication::sendEvent(view.viewport(), &move);
        }
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, released);
        if (c.shiftClick != 0)
            QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                              point + QPoint(0, c.shiftClick * lineHeight));
        const QTextCursor selection = view.textCursor();
        const QString selected =
            cw::editor::attributedText(*view.document(), selection.selectionStart(), selection.selectionEnd())
                .string();
        EXPECT_TRUE(selected == c.selected)
            << selected.size() << " characters: " << selected.left(40).toStdString();
        EXPECT_EQ(view.verticalScrollBar()->value(), scrolled) << "the view jumped";
    }
}

// Beside a cut inside a run without a space, every move by a character passes one, a move by a
// word runs on across the cut, and Backspace and Delete take the character beyond it: the cut is
// nothing the reader sees. Beside a cut at a space, a move or a deletion by a word leftwards takes
// the word before the space, as without the cut.
TEST(TextBridge, MovesAndDeletionsBesideACutPassACharacter) {
    using cw::editor::ScriptTextView;
    // Long enough to be cut however short paragraphs are held.
    const QString text = QStringLiteral("ab ") + QString(20000, u'x') + QStringLiteral(" cd");
    const QString spaced = QStringLiteral("ab ") + QStringLiteral("word ").repeated(4000); // cut at 16382
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool fromSecondBlockStart; // else from the first run block's end
        int textPosition;          // where the caret ends, in the text
        int anchor;                // where the selection starts, in the text
        int removes = 0;           // the characters taken from textPosition on
        bool atSpace = false;      // in `spaced`, from the block after its cut
    } cases[] = {
        {Qt::Key_Left, {}, true, 1026, 1026},
        {Qt::Key_Right, {}, false, 1028, 1028},
        {Qt::Key_Left, Qt::ShiftModifier, true, 1026, 1027},
        {Qt::Key_Right, Qt::ShiftModifier, false, 1028, 1027},
        {Qt::Key_Left, Qt::ControlModifier, true, 3, 3},
        {Qt::Key_Right, Qt::ControlModifier, false, 20004, 20004},
        {Qt::Key_Backspace, {}, true, 1026, 1026, 1},
        {Qt::Key_Delete, {}, false, 1027, 1027, 1},
        {Qt::Key_Left, Qt::ControlModifier, true, 16378, 16378, 0, true},
        {Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier, true, 16378, 16383, 0, true},
        {Qt::Key_Backspace, Qt::ControlModifier, true, 16378, 16378, 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.key) + " " + std::to_string(c.modifiers.toInt()) +
                     (c.fromSecondBlockStart ? " from a block's start" : " from its end"));
        const QString& original = c.atSpace ? spaced : text;
        ScriptTextView view;
        cw::editor::setAttributedText(*view.document(), AttributedString(original));
        const QTextBlock second = view.document()->findBlock(3).next();
        if (c.atSpace) {
            ASSERT_EQ(cw::editor::blockBreak(second).kind, cw::editor::BlockBreak::Kind::cutAtSpace);
            ASSERT_EQ(second.position(), 16383);
        } else {
            const auto cuts = cw::editor::characterlessCuts(*view.document());
            ASSERT_FALSE(cuts.empty());
            ASSERT_EQ(cuts.front(), 1027);
        }
        QTextCursor cursor(second);
        if (!c.fromSecondBlockStart)
            cursor.movePosition(QTextCursor::PreviousCharacter);
        view.setTextCursor(cursor);
        QTest::keyClick(&view, c.key, c.modifiers);
        const cw::editor::PlainText plain = cw::editor::plainText(*view.document());
        EXPECT_EQ(plain.textPosition(view.textCursor().position()), c.textPosition);
        EXPECT_EQ(plain.textPosition(view.textCursor().anchor()), c.anchor);
        EXPECT_TRUE(plain.string == QString(original).remove(c.textPosition, c.removes));
    }
}

// A long paste goes in piece by piece, the view read-only meanwhile: short lines share blocks as
// an opened text's do, one undo takes the whole paste back, and Cancel takes back what went in.
// Its redo goes piece by piece too, in the paste's own window, whose Cancel leaves it undone.
TEST(TextBridge, ALongPasteGoesInPiecesOneUndoOrCancelTakesItBack) {
    using cw::editor::ScriptTextView;
    const QString lines = QStringLiteral("word\n").repeated(300000);
    cw::editor::ProgressWindow::setDelayForTests(0);
    const auto usualDelays = qScopeGuard([] { cw::editor::ProgressWindow::setDelayForTests(std::nullopt); });
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "whole");
        ScriptTextView view;
        cw::editor::setAttributedText(*view.document(), AttributedString(QStringLiteral("Before after")));
        QTextCursor at(view.document());
        at.setPosition(7);
        view.setTextCursor(at);
        const bool answered = cwtest::cancelling(cancel ? "Paste" : "", [&] {
            paste(view, lines);
            ASSERT_TRUE(view.isPasting());
            EXPECT_TRUE(view.isReadOnly());
            ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isInLongEdit(); }, 60000));
        });
        EXPECT_EQ(answered, cancel) << "Cancel did not answer at once";
        EXPECT_FALSE(view.isReadOnly());
        const QString expected = cancel ? QStringLiteral("Before after")
                                        : QStringLiteral("Before ") + lines + QStringLiteral("after");
        EXPECT_TRUE(cw::editor::attributedText(*view.document()).string() == expected);
        if (cancel) {
            EXPECT_FALSE(view.document()->isRedoAvailable()) << "what went in was left to redo";
            continue;
        }
        EXPECT_LT(view.document()->blockCount(), 300000 / 100) << "a block for each line";
        expectBlocksWithinLimits(*view.document());
        view.undo();
        EXPECT_TRUE(cw::editor::attributedText(*view.document()).string() == QStringLiteral("Before after"));
        // Its redo goes a piece at a time too, the event loop turning in between.
        int turns = 0;
        QTimer turning;
        QObject::connect(&turning, &QTimer::timeout, [&] { ++turns; });
        turning.start(0);
        view.redo();
        EXPECT_GT(turns, 0) << "the redo held the loop";
        EXPECT_TRUE(cw::editor::attributedText(*view.document()).string() == expected);
        view.undo();
        EXPECT_TRUE(cwtest::cancelling("Paste", [&] { view.redo(); })) << "Cancel did not answer at once";
        EXPECT_TRUE(cw::editor::attributedText(*view.document()).string() == QStringLiteral("Before after"));
        EXPECT_EQ(view.redoActionName(), "Paste");
    }
}

// A soft line break put among short paragraphs that share a block stays one, whichever way it goes
// in (by each edit, at where and over how much), and so do the breaks of two blocks an edit joins
// (one of them a paragraph of its own holding a soft break); undo gives the blocks back.
TEST(TextBridge, ASoftBreakAmongJoinedParagraphsStaysOne) {
    using namespace cw::editor;
    const QString text = QStringLiteral("a short line\n").repeated(6000).replace(1301, 1, u'\u2028');
    const QString soft = QStringLiteral("x\u2028y");
    const auto keys = [](Qt::Key move, Qt::Key key) {
        return [=](ScriptTextView& v) { QTest::keyClick(&v, move), QTest::keyClick(&v, key); };
    };
    const std::function<void(ScriptTextView&)> edits[] = {
        [](ScriptTextView& v) { QTest::keyClick(&v, Qt::Key_Return, Qt::ShiftModifier); },
        [&](ScriptTextView& v) {
            QInputMethodEvent commit;
            commit.setCommitString(soft);
            QApplication::sendEvent(&v, &commit);
        },
        [&](ScriptTextView& v) { paste(v, soft); },
        [&](ScriptTextView& v) {
            v.namedEdit("Replace", [&](QTextCursor& c) { TextFinder::replace(c, {39005, 1}, soft); });
        },
        [&](ScriptTextView& v) {
            TextFinder::ReplaceAll all(*v.document(), "short", soft, Qt::CaseSensitive);
            while (!all.gatherNext()) {
            }
            v.namedEdit("Replace All", [&](QTextCursor& c) {
                while (!all.isDone())
                    all.replaceNext(c);
            });
        },
        keys(Qt::Key_Right, Qt::Key_Backspace), // at the start of the block after the selection
        keys(Qt::Key_Left, Qt::Key_Delete),
        [](ScriptTextView& v) { QTest::keyClick(&v, Qt::Key_Z); },
        [](ScriptTextView& v) { QMetaObject::invokeMethod(&v, "cut"); }, // as the Edit menu does
    };
    const struct {
        size_t edit;
        int at, selected;
        QString typed;
    } cases[] = {{0, 39005, 0, "\u2028"}, {0, 39000, 0, "\u2028"}, {0, 39005, 20, "\u2028"},
                 {1, 39005, 0, soft},     {2, 39005, 0, soft},     {3, 39005, 1, soft},
                 {4, 0, 0, soft},         {5, 1299, 1, ""},        {6, 1312, 1, ""},
                 {7, 1312, 1, "z"},       {8, 1299, 1, ""},        {2, 1312, 1, soft}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.edit) + " at " + std::to_string(c.at));
        ScriptTextView view;
        QTextDocument& document = *view.document();
        setAttributedText(document, AttributedString(text));
        document.setUndoRedoEnabled(true);
        QTextCursor cursor(&document);
        cursor.setPosition(c.at);
        cursor.setPosition(c.at + c.selected, QTextCursor::KeepAnchor);
        view.setTextCursor(cursor);
        const int blocks = document.blockCount();
        edits[c.edit](view);
        const QString expected = c.edit == 4 ? QString(text).replace("short", soft)
                                             : QString(text).replace(c.at, c.selected, c.typed);
        EXPECT_TRUE(attributedText(document).string() == expected);
        EXPECT_EQ(paragraphRange(document, c.at).end(), expected.indexOf(u'\n', c.at));
        view.undo();
        EXPECT_EQ(document.blockCount(), blocks);
        EXPECT_TRUE(attributedText(document).string() == text) << "undone";
        view.redo();
        EXPECT_TRUE(attributedText(document).string() == expected) << "redone";
    }
}
