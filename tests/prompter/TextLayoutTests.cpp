// The text column: font size from the width, chunking, margins, scroll origin and culling.
#include "prompter/PrompterTestSupport.h"

#include "cuewright/model/TextUtils.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/PrompterTextLayout.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "platform/layers/TileCache.h"
#include "platform/layers/TiledTextLayer.h"
#include "platform/text/ParagraphLines.h"
#include "platform/text/TextAttributes.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iterator>
#include <utility>

using cw::PrompterView;
using platform::AttributedString;

namespace {

// The font size follows the width, the margin and the word count factor, never below 8 points.
TEST(PrompterTextLayout, FontSizeFollowsWidthMarginAndWordCountFactorNeverBelowEight) {
    const struct {
        int width;
        double margin;
        float factor;
        double textWidth, lineHeight;
    } cases[] = {{1000, 0.1, 0.5f, 890, 89}, {40, 0, 0, 30, 8}, {3000, 0, 1.0f, 2990, 8}};
    for (const auto& c : cases) {
        auto view = cwtest::makeView(c.width, 600);
        view->updateDisplay([&](auto& s) {
            s.prompterMargin = c.margin;
            s.prompterWordCountFactor = c.factor;
        });
        view->layoutText();
        EXPECT_DOUBLE_EQ(view->textWidth(), c.textWidth) << c.width;
        EXPECT_DOUBLE_EQ(view->lineHeight(), c.lineHeight) << c.width;
        EXPECT_DOUBLE_EQ(view->overlayLayer().lineHeight(), c.lineHeight) << c.width;
    }
}

// A view of 1000 × 600 whose lines (one per letter) have the given heights.
struct FixedLinesView {
    explicit FixedLinesView(std::vector<double> heights)
        : typesetter(heights) {
        QString text;
        for (std::size_t i = 0; i < heights.size(); ++i) {
            text += QString(i == 0 ? 0 : 1, u'\n') + QChar(u'a' + int(i));
        }
        view->setTypesetter(&typesetter);
        view->setText(AttributedString(text));
        view->layoutText();
    }
    cwtest::FixedHeightTypesetter typesetter;
    std::unique_ptr<PrompterView> view = cwtest::makeView(1000, 600);
};

// Chunks are 4096 high at most and hold whole lines: the first line that reaches 4096 closes one.
// A chunk's height is its rounded line heights summed, plus one; the chunks hang below each other
// by the exact sums (at the layout's size; the layers show them scaled).
TEST(PrompterTextLayout, TallTextSplitsIntoChunksOfWholeLinesHangingBelowEachOther) {
    const struct {
        std::vector<double> lines;
        std::vector<double> heights, advances;
        double textHeight;
        const char* lastChunk;
    } cases[] = {
        {{819, 819, 819, 819, 819}, {4096}, {4095}, 4095, "a\nb\nc\nd\ne"}, // 4095 + 1: one chunk
        {{819, 819, 819, 819, 820}, {4097}, {4096}, 4096, "a\nb\nc\nd\ne"}, // 4097: the chunking path
        {std::vector<double>(6, 1000.5), {5 * 1001 + 1, 1001 + 1}, {5 * 1000.5, 1000.5}, 6 * 1000.5, "f"},
    };
    for (const auto& c : cases) {
        const FixedLinesView fixed(c.lines);
        const auto& layers = fixed.view->textLayers();
        const double scale = fixed.view->layoutScale();
        ASSERT_EQ(layers.size(), c.heights.size());
        double bottom = 600;
        for (std::size_t i = 0; i < layers.size(); ++i) {
            EXPECT_DOUBLE_EQ(layers[i]->frame().height(), c.heights[i] * scale) << i;
            EXPECT_DOUBLE_EQ(layers[i]->frame().bottom(), bottom) << i;
            bottom -= c.advances[i] * scale;
        }
        EXPECT_DOUBLE_EQ(fixed.view->textHeight(), c.textHeight * scale);
        auto* source = dynamic_cast<const cw::PrompterTextSource*>(layers.back()->source().get());
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->text().string(), QString::fromLatin1(c.lastChunk));
    }
}

TEST(PrompterTextLayout, MeasuredChunksCoverTheTextInOrder) {
    const AttributedString text = cwtest::script(3000, 30);
    const cw::LayerTypesetter typesetter;
    const auto metrics = cw::measurePrompterText(text, 500, typesetter, 1000);
    ASSERT_GT(metrics.chunks.size(), 2u);
    QString joined;
    double advance = 0;
    for (const auto& chunk : metrics.chunks) {
        joined += chunk.text.string();
        advance += chunk.advance;
        EXPECT_GE(chunk.boundingSize.height(), chunk.advance);
    }
    EXPECT_EQ(joined, text.string());
    EXPECT_LE(advance, metrics.totalHeight);
}

TEST(PrompterTextLayout, VeryLongWordBreaksAtTheWidthInLinearWork) {
    const cw::LayerTypesetter typesetter;
    const auto scanned = [&](int letters) {
        platform::Attributes attributes;
        attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 40, false, false};
        const AttributedString word(QStringLiteral("so ") + QString(letters, u'w') + QStringLiteral(" end"),
                                    attributes);
        const std::uint64_t before = platform::lineBreakScanCount();
        const auto lines = typesetter.typeset(word, 700);
        const std::uint64_t work = platform::lineBreakScanCount() - before;
        // "so" alone, full lines of the word, and its last piece shares a line with "end".
        EXPECT_EQ(lines.front().range, (platform::TextRange{0, 3}));
        int covered = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].range.location, covered);
            EXPECT_LE(lines[i].width, 700);
            EXPECT_TRUE(i == 0 || i + 1 == lines.size() || lines[i].width > 600) << i;
            covered += lines[i].range.length;
        }
        EXPECT_EQ(covered, word.length());
        EXPECT_TRUE(word.string().mid(lines.back().range.location).endsWith(QStringLiteral("w end")));
        return static_cast<double>(work);
    };
    const double small = scanned(10000);
    const double large = scanned(40000);
    EXPECT_LE(large / small, 4.5) << small << " " << large;
}

// A word wider than the column breaks between letters onto the next line, alone or among words,
// at the end of a paragraph or before punctuation: no line is wider than the column.
TEST(PrompterTextLayout, AWordWiderThanTheColumnBreaksBetweenLetters) {
    const cw::LayerTypesetter typesetter;
    platform::Attributes attributes;
    attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 100, false, false};
    const QString word = QStringLiteral("extraordinarily");
    const double wide = typesetter.typeset(AttributedString(word, attributes), 1e6).front().width;
    for (const QString& text : {word, QStringLiteral("is a extraordinarily is a"),
                                QStringLiteral("short\nextraordinarily.\nis a\n")}) {
        for (const double share : {0.95, 0.9, 0.6, 0.3}) {
            const double width = wide * share;
            const auto lines = typesetter.typeset(AttributedString(text, attributes), width);
            int covered = 0, inWord = 0;
            const int at = int(text.indexOf(word));
            for (const auto& line : lines) {
                EXPECT_EQ(line.range.location, covered);
                EXPECT_LE(line.width, width) << text.toStdString() << " " << share;
                covered += line.range.length;
                inWord += line.range.location < at + word.size() && at < line.range.end();
            }
            EXPECT_EQ(covered, text.size());
            EXPECT_GE(inWord, 2) << text.toStdString() << " " << share;
        }
    }
}

// Short paragraphs share layouts: each still gets the lines it has typeset on its own, whatever
// its ending, look or alignment.
TEST(PrompterTextLayout, ShortParagraphsSharingALayoutKeepTheirOwnLines) {
    platform::Attributes plain, bold, centred, justified;
    plain.font = platform::Font{QStringLiteral("DejaVu Sans"), 30, false, false};
    bold.font = platform::Font{QStringLiteral("DejaVu Sans"), 30, true, false};
    centred = plain;
    centred.paragraphStyle = platform::ParagraphStyle();
    centred.paragraphStyle->alignment = platform::ParagraphAlignment::center;
    justified = plain;
    justified.paragraphStyle = platform::ParagraphStyle();
    justified.paragraphStyle->alignment = platform::ParagraphAlignment::justified;
    AttributedString text;
    for (int i = 0; i < 300; ++i) {
        text.append(QStringLiteral("word %1\n").arg(i), i % 50 < 40 ? plain : bold);
    }
    const QString wraps = QStringLiteral("a line long enough to wrap in the column ").repeated(4);
    for (const QString& part :
         {QStringLiteral("\n\n\r\n"), QStringLiteral("crlf\r\nmac\rsep\u2029tab\tline\n"),
          QStringLiteral("wraps too short? ") + wraps + QStringLiteral("\n")}) {
        text.append(part, plain);
    }
    text.append(QStringLiteral("centred\nshort\n"), centred);
    text.append(QStringLiteral("justified words in a line that wraps\nand\n"), justified);
    text.append(wraps + QStringLiteral("\nlast"), plain);

    const cw::LayerTypesetter typesetter;
    const auto lines = typesetter.typeset(text, 300);
    std::vector<platform::TypesetLine> own;
    platform::forEachParagraph(text, [&](platform::TextRange content, int terminator) {
        for (auto line :
             typesetter.typeset(text.substring({content.location, content.length + terminator}), 300)) {
            line.range.location += content.location;
            own.push_back(line);
        }
    });
    ASSERT_EQ(lines.size(), own.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].range, own[i].range) << i;
        EXPECT_DOUBLE_EQ(lines[i].height, own[i].height) << i;
        EXPECT_DOUBLE_EQ(lines[i].ascent, own[i].ascent) << i;
        EXPECT_DOUBLE_EQ(lines[i].width, own[i].width) << i;
    }
}

// A layout of the text already measured (a window shown, placed, then restyled alike, or
// resized: the text is laid out at one size whatever the width) measures nothing again; another
// word count factor does.
TEST(PrompterTextLayout, TheSameTextAtTheSameWidthIsMeasuredOnce) {
    struct Counting final : platform::Typesetter {
        std::vector<platform::TypesetLine> typeset(const AttributedString& text,
                                                   double width) const override {
            ++calls;
            return inner.typeset(text, width);
        }
        cw::LayerTypesetter inner;
        mutable int calls = 0;
    } counting;
    auto view = cwtest::makeView(800, 600);
    view->setTypesetter(&counting);
    view->setText(cwtest::script(400));
    view->layoutText();
    const int measured = counting.calls;
    ASSERT_GT(measured, 0);
    view->layoutText();
    EXPECT_EQ(counting.calls, measured);
    cwtest::resizeView(*view, 700, 600);
    view->layoutText();
    EXPECT_EQ(counting.calls, measured);
    view->updateDisplay([](auto& s) { s.prompterWordCountFactor = 0.3f; });
    EXPECT_GT(counting.calls, measured);
}

// The margin alignment shares the free width out: -1 all of it right of the column, 1 all left.
TEST(PrompterTextLayout, MarginAlignmentPlacesTheColumn) {
    auto view = cwtest::makeView(1000, 600);
    view->updateDisplay([](auto& s) { s.prompterMargin = 0.2; });
    view->setText(cwtest::script(20));
    for (const auto& [alignment, share] : {std::pair{-1.0, 0.0}, {0.0, 0.5}, {0.5, 0.75}, {1.0, 1.0}}) {
        view->updateDisplay([&](auto& s) { s.prompterMarginAlignment = alignment; });
        view->layoutText();
        const QRectF frame = view->textLayers()[0]->frame();
        EXPECT_NEAR(frame.left(), share * (1000 - view->textWidth()), 1e-9) << alignment;
        EXPECT_NEAR(frame.right(), frame.left() + view->textWidth(), 1e-9) << alignment;
    }
}

TEST(PrompterScrolling, ProgressPutsTextTopThenEndAtTheReadingPosition) {
    auto view = cwtest::makeView(800, 600);
    view->setText(cwtest::script(400));
    view->layoutText();
    view->setScrollPosition(0, false, true);
    // Scroll origin = scrollOffset − Hv × (1 − indicatorPosition).
    EXPECT_DOUBLE_EQ(view->scrollLayer().position().y(), -300);
    const double top = view->textLayers()[0]->frame().bottom() + view->scrollLayer().position().y();
    EXPECT_DOUBLE_EQ(top, 300);

    view->setScrollPosition(1, false, true);
    EXPECT_DOUBLE_EQ(view->scrollLayer().position().y(), view->textHeight() - 300);
    const double end =
        view->textLayers()[0]->frame().bottom() - view->textHeight() + view->scrollLayer().position().y();
    EXPECT_NEAR(end, 300, 1e-6);

    view->updateDisplay([](auto& s) { s.indicatorPosition = 0.25f; });
    view->setScrollPosition(0.5, false, true);
    EXPECT_DOUBLE_EQ(view->scrollLayer().position().y(), view->textHeight() * 0.5 - 600 * 0.75);
}

// A bar appearing above the view after the layout makes it shorter: until the text is laid out
// again, its top and its end still come to the reading position, not the bar's height below it.
TEST(PrompterScrolling, AHeightChangeBeforeTheNextLayoutKeepsTheTextAtTheReadingPosition) {
    auto view = cwtest::makeView(800, 620);
    view->setText(cwtest::script(400));
    view->layoutText();
    cwtest::resizeView(*view, 800, 600);
    ASSERT_EQ(view->layoutPasses(), 1) << "the resize laid the text out";
    const auto textTop = [&] {
        return view->textLayers()[0]->frame().bottom() + view->scrollLayer().position().y();
    };
    view->setScrollPosition(0, false, true);
    EXPECT_DOUBLE_EQ(textTop(), 300);
    view->setScrollPosition(1, false, true);
    EXPECT_NEAR(textTop() - view->textHeight(), 300, 1e-6);
    cwtest::resizeView(*view, 800, 640);
    EXPECT_NEAR(textTop() - view->textHeight(), 320, 1e-6) << "the relayout of the resize";
}

// A size given while the window is hidden (the application moving it onto a smaller display)
// comes with no live resize: the text is laid out for it as the window shows again.
TEST(PrompterScrolling, ASizeGivenWhileHiddenLaysTheTextOutWhenShown) {
    PrompterView view;
    view.resize(960, 640);
    view.setText(cwtest::script(400));
    view.show();
    view.layoutText();
    ASSERT_DOUBLE_EQ(view.textWidth(), 950);
    view.hide();
    view.resize(800, 640);
    view.show();
    EXPECT_DOUBLE_EQ(view.textWidth(), 790);
    const int layouts = view.layoutPasses();
    view.hide();
    view.show();
    EXPECT_EQ(view.layoutPasses(), layouts) << "showing again at the same size laid the text out";
}

// So does a text of more lines than are shown, which is not typeset (it would take minutes).
TEST(PrompterScrolling, EmptyTextGivesOneEmptyLayerAndAFixedPosition) {
    for (const AttributedString& text :
         {AttributedString(),
          AttributedString(QStringLiteral("w\n").repeated(int(cw::TextUtils::maximumShownParagraphs))),
          AttributedString(
              QStringLiteral("w\r\n").repeated(int(cw::TextUtils::maximumShownParagraphs / 2)))}) {
        auto view = cwtest::makeView(800, 600);
        view->setText(text);
        view->layoutText();
        view->finishLayingOutText(); // a text of many paragraphs
        ASSERT_EQ(view->textLayers().size(), 1u) << text.length();
        EXPECT_DOUBLE_EQ(view->textLayers()[0]->frame().height(), 0);
        EXPECT_DOUBLE_EQ(view->textHeight(), 0);
        view->setScrollPosition(0.3, false, true);
        const double y = view->scrollLayer().position().y();
        view->setScrollPosition(0.9, false, true);
        EXPECT_DOUBLE_EQ(view->scrollLayer().position().y(), y);
    }
}

TEST(PrompterScrolling, UnforcedMovesCullOnEveryEighthMoveOnly) {
    auto view = cwtest::makeView(800, 400);
    view->setText(cwtest::script(20000));
    view->layoutText();
    view->finishLayingOutText();
    ASSERT_GT(view->textLayers().size(), 10u);
    view->setScrollPosition(0, false, true); // move 1 since the layout, forced
    EXPECT_NE(view->textLayers()[0]->superlayer(), nullptr);
    // Jump far: moves 2...7 leave the tree alone, the 8th culls.
    for (int move = 2; move <= 7; ++move) {
        view->setScrollPosition(0.5, false, false);
        EXPECT_NE(view->textLayers()[0]->superlayer(), nullptr) << move;
    }
    view->setScrollPosition(0.5, false, false);
    EXPECT_EQ(view->buildCounter(), 8);
    EXPECT_EQ(view->textLayers()[0]->superlayer(), nullptr);
}

// Progress that puts the top edge of chunk `index` at height `y` of the view.
double progressForChunkTop(const PrompterView& view, std::size_t index, double y) {
    const double scrollY = y - view.textLayers()[index]->frame().bottom();
    return (scrollY + view.height() * (1 - view.display().indicatorPosition)) / view.textHeight();
}

TEST(PrompterScrolling, ChunkAheadInTheDirectionOfTravelIsInTheTreeBeforeItShows) {
    auto view = cwtest::makeView(800, 400);
    view->setText(cwtest::script(20000));
    view->layoutText();
    view->finishLayingOutText();
    const auto& layers = view->textLayers();
    ASSERT_GT(layers.size(), 4u);

    // Forwards: chunk 2 starts 50 points below the bottom edge; it is in the tree already.
    const double before = progressForChunkTop(*view, 2, -50);
    view->setScrollPosition(before - 0.001, false, true);
    view->setScrollPosition(before, false, true);
    EXPECT_EQ(view->buildCounter(), 2);
    EXPECT_NE(layers[2]->superlayer(), nullptr);
    // Winding fast: six unforced moves of 40 points bring it on screen before the next cull.
    for (int i = 1; i <= 6; ++i) {
        view->setScrollPosition(before + i * 40 / view->textHeight(), false, false);
        EXPECT_NE(layers[2]->superlayer(), nullptr) << "move " << i;
    }

    // Backwards: chunk 2's top 50 points above the top edge, so chunk 1 is off screen above.
    const double back = progressForChunkTop(*view, 2, 450);
    view->setScrollPosition(back + 0.001, false, true);
    view->setScrollPosition(back, false, true);
    EXPECT_NE(layers[1]->superlayer(), nullptr);
    // And nothing two screens away stays.
    EXPECT_EQ(layers[4]->superlayer(), nullptr);
}

// Prompters of any width (and one resized) break the script into the same lines and show the same
// line at the reading position for every progress; a line step goes to the same line in each.
TEST(PrompterScrolling, EveryWidthShowsTheSameLineAtEveryProgress) {
    const AttributedString text = cwtest::script(1500, 47);
    for (const float factor : {0.5f, 0.2f}) {
        std::vector<std::unique_ptr<PrompterView>> views;
        for (const int width : {800, 960, 1337, 611}) {
            views.push_back(cwtest::makeView(width, 600));
            views.back()->setText(text);
            views.back()->updateDisplay([&](auto& s) { s.prompterWordCountFactor = factor; });
            views.back()->layoutText();
        }
        cwtest::resizeView(*views.back(), 1111, 500); // resized: laid out anew at its end
        views.back()->layoutText();
        const PrompterView& first = *views.front();
        for (const auto& view : views) {
            SCOPED_TRACE(testing::Message() << view->width() << " " << factor);
            ASSERT_EQ(view->lineOffsets().size(), first.lineOffsets().size());
            for (double progress = 0; progress <= 1; progress += 0.0123) {
                view->setScrollPosition(progress, false, true);
                views.front()->setScrollPosition(progress, false, true);
                ASSERT_EQ(view->currentLineIndex(), first.currentLineIndex()) << progress;
                // The same share of that line at the reading position.
                EXPECT_NEAR(view->scrollOffset() / view->graphicLineHeight(),
                            first.scrollOffset() / first.graphicLineHeight(), 1e-6)
                    << progress;
            }
        }
    }
}

TEST(PrompterScrolling, LineStepsTargetNeighbouringLines) {
    cwtest::FixedHeightTypesetter typesetter({50});
    auto view = cwtest::makeView(1000, 600);
    view->setTypesetter(&typesetter);
    view->setText(AttributedString(cwtest::lines(20)));
    view->layoutText();
    auto recorder = std::make_shared<cwtest::RecordingDelegate>();
    view->setDelegate(recorder);
    // Reading position on line 10, half way through.
    view->setScrollPosition(10.5 / 20, false, true);
    EXPECT_EQ(view->currentLineIndex(), 10);
    view->stepLines(PrompterView::StepDirection::up, 3);
    view->stepLines(PrompterView::StepDirection::down, 3);
    view->stepLines(PrompterView::StepDirection::down, 30);
    ASSERT_EQ(recorder->targets.size(), 3u);
    EXPECT_DOUBLE_EQ(recorder->targets[0], 7.5 / 20);
    EXPECT_DOUBLE_EQ(recorder->targets[1], 13.5 / 20);
    EXPECT_DOUBLE_EQ(recorder->targets[2], 19.5 / 20);
}

TEST(PrompterScrolling, TileMemoryFollowsTheViewNotTheScript) {
    auto view = cwtest::makeView(400, 300);
    view->setText(cwtest::script(20000));
    view->layoutText();
    view->finishLayingOutText();
    view->relayout(false);
    const std::size_t cap = view->tileCache()->byteLimit();
    EXPECT_EQ(cap, std::size_t(8) << 20); // the floor: 1.5 screens of 400 × 300 are less
    for (int i = 0; i <= 40; ++i) {
        view->setScrollPosition(i / 40.0, false, true);
        (void)view->renderToImage();
    }
    EXPECT_DOUBLE_EQ(view->textLayers()[0]->contentsScale(), 1.0) << "no window: scale one";
    EXPECT_LE(view->tileCache()->bytesUsed(), cap);
    EXPECT_GT(view->tileCache()->bytesUsed(), 0u);

    cwtest::resizeView(*view, 2000, 1600);
    EXPECT_EQ(view->tileCache()->byteLimit(), std::size_t(1.5 * 2000 * 1600 * 4));
}

// What a view shows of its text: lines, heights and chunks.
struct Shown {
    std::vector<int> starts;
    std::vector<double> offsets;
    double height = 0;
    double graphicLineHeight = 0;
    std::vector<QRectF> frames;
    std::vector<QString> chunks;
    bool operator==(const Shown&) const = default;
};

Shown shown(const PrompterView& view) {
    Shown s{view.lineStarts(), view.lineOffsets(), view.textHeight(), view.graphicLineHeight(), {}, {}};
    for (const auto& layer : view.textLayers()) {
        s.frames.push_back(layer->frame());
        s.chunks.push_back(static_cast<const cw::PrompterTextSource&>(*layer->source()).text().string());
    }
    return s;
}

// A long text is laid out a part at a time, the event loop turning between the parts and the
// layout before it staying on screen, and ends as a layout of the whole text does; a newer text,
// width or word count met on the way starts it again.
TEST(PrompterScrolling, LongTextIsLaidOutInPartsToTheWholeLayout) {
    const AttributedString first = cwtest::script(50000);
    const AttributedString second = cwtest::script(52000, 7); // runs of short paragraphs
    const struct {
        const char* what;
        std::function<void(PrompterView&)> meanwhile;
        const AttributedString& text;
        int width;
    } cases[] = {
        {"left alone", [](PrompterView&) {}, first, 900},
        {"a newer text", [&](PrompterView& v) { v.setText(second), v.layoutText(); }, second, 900},
        {"a new width", [](PrompterView& v) { cwtest::resizeView(v, 700, 600), v.layoutText(); }, first, 700},
        {"another word count",
         [](PrompterView& v) { v.updateDisplay([](auto& s) { s.prompterWordCountFactor = 0.7f; }); }, first,
         900},
    };
    for (const auto& c : cases) {
        auto view = cwtest::makeView(900, 600);
        view->setText(AttributedString(cwtest::lines(3)));
        view->layoutText();
        const Shown before = shown(*view);
        view->setText(first);
        view->layoutText();
        EXPECT_EQ(shown(*view), before) << c.what << ": the layout shown stays until the new one is done";
        int turns = 0;
        QTimer counting;
        QObject::connect(&counting, &QTimer::timeout, [&] { ++turns; });
        counting.start(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return turns > 0; }));
        c.meanwhile(*view);
        view->setScrollPosition(0.5, false, true);
        EXPECT_EQ(shown(*view), before) << c.what;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !(shown(*view) == before); }, 600000)) << c.what;
        EXPECT_GT(turns, 3) << c.what << ": the event loop turned between the parts";

        auto whole = cwtest::makeView(c.width, 600);
        const cw::LayerTypesetter typesetter; // measures the whole text at once
        whole->setTypesetter(&typesetter);
        whole->apply(view->display());
        whole->setText(c.text);
        whole->layoutText();
        EXPECT_TRUE(shown(*view) == shown(*whole)) << c.what;
        EXPECT_DOUBLE_EQ(view->offsetForProgress(0.5), whole->offsetForProgress(0.5)) << c.what;
    }
}

// Each part lays out whole paragraphs of about the characters asked for, at least one, and the
// metrics come in a part of their own, exactly those of the whole text measured at once.
// Whatever the characters: no space at all, only line separators, CJK, surrogate pairs, or a mix.
TEST(PrompterTextLayout, MeasurementAdvancesByBoundedPartsToTheWholeResult) {
    const QString kinds[] = {QStringLiteral("x"), QString(QChar(0x2028)), QStringLiteral("\u6f22\u5b57"),
                             QStringLiteral("\U0001F600"), QStringLiteral(" "), QStringLiteral("\n"),
                             QStringLiteral("\r\n"), QString(QChar(0x2029))};
    QString mixed;
    std::uint32_t seed = 7;
    for (int i = 0; i < 6000; ++i) {
        seed = seed * 1103515245u + 12345u;
        mixed += kinds[(seed >> 16) % std::size(kinds)];
    }
    const std::pair<const char*, AttributedString> texts[] = {
        {"40 a paragraph", cwtest::script(6000, 40)},
        {"7 a paragraph", cwtest::script(6000, 7)},
        {"4000 a paragraph", cwtest::script(6000, 4000)},
        {"no space", AttributedString(kinds[0].repeated(8000))},
        {"line separators only", AttributedString(kinds[1].repeated(3000))},
        {"CJK", AttributedString(kinds[2].repeated(3000))},
        {"surrogate pairs", AttributedString(kinds[3].repeated(3000))},
        {"mixed", AttributedString(mixed)},
    };
    for (const auto& [perParagraph, script] : texts) {
        const AttributedString text = cw::TextUtils::applyFontAndParagraphStyle(script, 100);
        cw::PrompterTextMeasurement parts(text, 1000);
        int longest = 0;
        platform::forEachParagraph(
            text, [&](platform::TextRange range, int) { longest = std::max(longest, range.length); });
        for (int reached = 0; !parts.step(500); reached = parts.measuredCharacters()) {
            EXPECT_GT(parts.measuredCharacters(), reached) << perParagraph;
            EXPECT_LE(parts.measuredCharacters() - reached, 500 + std::max(longest, 100 * 128) + 2)
                << perParagraph;
        }
        const cw::PrompterTextMetrics all = cw::measurePrompterText(text, 1000, cw::LayerTypesetter());
        const cw::PrompterTextMetrics& got = parts.metrics();
        EXPECT_EQ(got.lineStarts, all.lineStarts) << perParagraph;
        EXPECT_EQ(got.lineTops, all.lineTops) << perParagraph;
        EXPECT_EQ(got.lineOffsets, all.lineOffsets) << perParagraph;
        EXPECT_EQ(got.totalHeight, all.totalHeight) << perParagraph;
        EXPECT_EQ(got.graphicLineHeight, all.graphicLineHeight) << perParagraph;
        ASSERT_EQ(got.chunks.size(), all.chunks.size()) << perParagraph;
        for (std::size_t i = 0; i < all.chunks.size(); ++i) {
            EXPECT_TRUE(got.chunks[i].text == all.chunks[i].text) << perParagraph << " " << i;
            EXPECT_EQ(got.chunks[i].boundingSize, all.chunks[i].boundingSize) << perParagraph << " " << i;
            EXPECT_EQ(got.chunks[i].advance, all.chunks[i].advance) << perParagraph << " " << i;
        }
    }
}

} // namespace
