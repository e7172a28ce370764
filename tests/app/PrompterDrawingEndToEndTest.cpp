// What the prompter draws, measured on screenshots of the real cuewright binary under openbox: the
// reading line crosses the middle third of a line at every scale factor, text without a colour of
// its own shows in the script's text colour, underlines and an unterminated last line are drawn,
// prompters of two widths read the same line, and the editor reads the prompter's line. Pictures
// go to test-output/prompter/.
#include "cuewright/model/ScriptProperties.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/prompter/PrompterTextLayout.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/text/TextAttributes.h"

#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// The script's text colour (the "defaultTextColor" setting): a cyan no other part of the picture has.
constexpr double textRed = 0.2, textGreen = 0.8, textBlue = 1.0;

// Text: the script's cyan, also under the white highlight band (its red stays below 150 there).
bool isInk(QRgb p) {
    return qBlue(p) > 150 && qRed(p) < 150 && qGreen(p) > 120;
}
// The red reading line, also under the highlight band.
bool isReadingLine(QRgb p) {
    return qRed(p) > 200 && qGreen(p) < 110 && qBlue(p) < 110;
}
// White, as text without a colour used to be drawn.
bool isWhite(QRgb p) {
    return qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
}

int countIn(const QImage& image, const QRect& rect, bool (*test)(QRgb)) {
    int count = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            count += test(image.pixel(x, y));
        }
    }
    return count;
}

// Rows of `rect` that hold ink, grouped into runs of consecutive rows: the lines of text.
std::vector<std::pair<int, int>> inkBands(const QImage& image, const QRect& rect) {
    std::vector<std::pair<int, int>> bands;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        if (countIn(image, QRect(rect.left(), y, rect.width(), 1), isInk) == 0) {
            continue;
        }
        if (!bands.empty() && bands.back().second == y - 1) {
            bands.back().second = y;
        } else {
            bands.emplace_back(y, y);
        }
    }
    return bands;
}

// The longest run of ink along one row of `rect`.
int longestInkRun(const QImage& image, const QRect& rect) {
    int longest = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        int run = 0;
        for (int x = rect.left(); x <= rect.right(); ++x) {
            run = isInk(image.pixel(x, y)) ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

// The leftmost and rightmost column of ink in `rect`; left > right when there is none.
std::pair<int, int> inkSpan(const QImage& image, const QRect& rect) {
    int left = rect.right() + 1, right = rect.left() - 1;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (isInk(image.pixel(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return {left, right};
}

// `count` presses of `key`, `delay` ms apart.
QStringList keyPresses(const char* key, int count, int delay) {
    QStringList keys{"key", "--delay", QString::number(delay)};
    for (int i = 0; i < count; ++i) {
        keys << key;
    }
    return keys;
}

// What a screenshot shows at the reading line.
struct Reading {
    int red = 0;         // red pixels on the reading line's row
    int row = -1;        // the reading line
    bool onLine = false; // it crosses a line of text
    int top = 0;         // that line's ink, first and last row
    int bottom = 0;
    int underline = 0; // the longest run of ink along a row within 2.5 cap heights below it
    double capHeight() const { return bottom - top + 1; }
    double position() const { return (row - top) / capHeight(); }
    bool inMiddleThird() const { return onLine && position() > 1.0 / 3 && position() < 2.0 / 3; }
};

Reading measure(const QImage& shot, const QRect& area) {
    Reading r;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const int red = countIn(shot, QRect(area.left(), y, area.width(), 1), isReadingLine);
        if (red > r.red) {
            r.red = red;
            r.row = y;
        }
    }
    for (const auto& band : inkBands(shot, area)) {
        if (band.first <= r.row && r.row <= band.second) {
            r.onLine = true;
            r.top = band.first;
            r.bottom = band.second;
        }
    }
    if (r.onLine) {
        r.underline = longestInkRun(
            shot, QRect(area.left(), r.bottom + 1, area.width(), static_cast<int>(2.5 * r.capHeight())));
    }
    return r;
}

// The reading line crosses the middle third of the line's capitals.
void expectMiddleThird(const Reading& reading) {
    const auto where = [&] {
        return "the reading line crosses the capitals " + std::to_string(reading.row - reading.top) +
               " px below their top, of " + std::to_string(reading.capHeight());
    };
    EXPECT_GT(reading.position(), 1.0 / 3) << where();
    EXPECT_LT(reading.position(), 2.0 / 3) << where();
}

struct Case {
    const char* name;
    const char* scaleFactor;
    QSize window; // logical points
    const char* style;
};

class PrompterDrawingEndToEnd : public AppTest {
protected:
    void writeDefaults(QSize window, const char* style) {
        setDefault(cw::settings::userInterfaceStyle, style);
        setDefault(
            cw::settings::prompterWindowFrameNormal,
            QStringLiteral("{{20, 20}, {%1, %2}}").arg(window.width()).arg(window.height()).toStdString());
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        platform::setArchivedColor(defaults, cw::settings::defaultTextColor,
                                   platform::ArchivedColor::sRGB(textRed, textGreen, textBlue));
        ASSERT_TRUE(defaults.synchronize());
    }

    // A script of `text` with no colour of its own, the reading line and the highlight band on.
    fs::path makeScript(const QString& text, float wordCountFactor,
                        std::optional<platform::TextRange> underlined = std::nullopt,
                        const std::function<void(cw::Project&)>& adjust = {}) {
        platform::AttributedString script(text);
        if (underlined) {
            platform::Attributes underline;
            underline.underlineStyle = platform::UnderlineStyle::single;
            script.addAttributes(underline, *underlined);
        }
        return AppTest::makeScript("capitals.cwr", script, [&](cw::Project& project) {
            auto properties = project.document().scriptProperties;
            properties.prompterWordCountFactor = wordCountFactor;
            properties.showReadingLine = true;
            properties.overlayType = cw::OverlayType::highlight;
            properties.indicatorType = cw::IndicatorType::arrow;
            properties.indicatorColor = cw::IndicatorColor::red;
            properties.indicatorPosition = 0.65f;
            project.setScriptProperties(properties);
            if (adjust) {
                adjust(project);
            }
        });
    }

    // Starts the application on the script and opens a prompter window from the editor; the
    // prompter's client area on the screen. Counts the editor's text pixels first when asked.
    std::optional<QRect> openPrompter(const fs::path& script, const char* scaleFactor,
                                      bool lookAtEditor = true) {
        QProcessEnvironment env = environment;
        env.insert("QT_SCALE_FACTOR", QString::fromLatin1(scaleFactor));
        app = &start({pathArg(script)}, env);
        editor = waitForWindow(*app, "capitals.cwr");
        if (editor && lookAtEditor) {
            // The editor's text in the script's colour: far more of it than a colour well holds.
            EXPECT_TRUE(waitFor(*app, [&] {
                return countIn(grabRoot(display), rootGeometry(display, *editor), isInk) > 5000;
            })) << "the editor's text never showed in the script's colour";
            editorInk = countIn(grabRoot(display), rootGeometry(display, *editor), isInk);
        }
        if (!editor || !activate(*editor) || !xdotool({"key", "ctrl+shift+p"})) {
            ADD_FAILURE() << "no editor window, or Ctrl+Shift+P did not go in";
            return std::nullopt;
        }
        const std::optional<Window> window = waitForWindow(*app, "Prompter Window");
        if (!window || !activate(*window)) {
            ADD_FAILURE() << "Ctrl+Shift+P opened no prompter window";
            return std::nullopt;
        }
        const QRect client = rootGeometry(display, *window);
        // Until the text is on screen.
        EXPECT_TRUE(waitFor(*app, [&] { return countIn(grabRoot(display), client, isInk) > 0; }))
            << "no text in the prompter";
        return client;
    }

    // The text column of the prompter's view, away from the bar above it and from the on-screen
    // controls at its sides and bottom: found by the script's background colour at a quarter of
    // the width, where no text lies.
    static QRect textArea(const QImage& shot, const QRect& client, double scale) {
        const int x = client.left() + client.width() / 4;
        const auto isBackground = [&](int y) {
            const QRgb p = shot.pixel(x, y);
            return qRed(p) < 20 && qGreen(p) < 25 && qBlue(p) > 8 && qBlue(p) < 40;
        };
        int top = client.top();
        while (top < client.bottom() && !isBackground(top)) {
            ++top;
        }
        int bottom = client.bottom();
        while (bottom > top && !isBackground(bottom)) {
            --bottom;
        }
        bottom -= static_cast<int>(90 * scale);
        return QRect(client.left() + client.width() * 3 / 10, top + 2, client.width() * 2 / 5,
                     bottom - top - 2);
    }

    void save(const QImage& image, const std::string& name) const {
        image.save(QString::fromStdString((pictures / name).string()));
    }
    // `area` of the screen once two grabs in a row are alike and `also` holds for it.
    QImage stillShot(const QRect& area, const std::function<bool(const QImage&)>& also = {}) {
        QImage before, shot;
        waitFor(*app, [&] {
            shot = grabRoot(display).copy(area);
            const bool still = shot == before;
            before = shot;
            return still && (!also || also(shot));
        });
        return shot;
    }
    std::vector<Window> prompters() {
        return findWindows(display, root, [](const std::string& name) {
            return name.find("Prompter Window") != std::string::npos;
        });
    }

    // Where the prompter reads, in lines from the top (line 2.5 is the middle of the third), with
    // the number of lines in `lines`, from the remote's status: at one line a second the running
    // time is the number of lines. -1 without an answer.
    double readPosition(std::uint16_t port, int& lines) {
        const nlohmann::json status = askStatus(port);
        if (!status.is_object() || !status["totalRuntime"].is_number()) {
            return -1;
        }
        lines = static_cast<int>(std::lround(status["totalRuntime"].get<double>()));
        return status["playbackProgress"].get<double>() * lines;
    }
    // The line the prompter reads (from 0).
    int readLine(std::uint16_t port, int& lines) {
        return static_cast<int>(std::floor(readPosition(port, lines)));
    }

    std::optional<Window> editor;
    int editorInk = 0;
    const fs::path pictures = outputDir("prompter");
    QProcess* app = nullptr;
};

class PrompterWindowOfSize : public PrompterDrawingEndToEnd, public ::testing::WithParamInterface<Case> {};

// Three line steps in a normal window, its bar above the view: the reading line lies in the middle
// third of the capitals it crosses, the text is the script's colour in prompter and editor, and the
// underlined line below shows its underline.
TEST_P(PrompterWindowOfSize, TheReadingLineCrossesTheMiddleOfTheLineItReads) {
    const Case& c = GetParam();
    writeDefaults(c.window, c.style);
    const int fourth = 4 * 6; // the line below the one read after three steps
    const fs::path script =
        makeScript(QStringLiteral("HHHHH\n").repeated(12), 0.5f, platform::TextRange{fourth, 5});
    const std::optional<QRect> client = openPrompter(script, c.scaleFactor);
    ASSERT_TRUE(client);
    const double scale = QString::fromLatin1(c.scaleFactor).toDouble();
    const QRect area = textArea(grabRoot(display), *client, scale);
    ASSERT_GT(area.height(), 0) << "no view below the bar";
    // One step at a time, the next once the text moved and the reading line is on a line.
    for (int step = 0; step < 3; ++step) {
        const QImage before = grabRoot(display);
        ASSERT_TRUE(xdotool({"key", "Down"}));
        // Pacing only; the whole window, as a step over alike lines leaves the text's picture.
        waitFor(*app, [&] {
            const QImage now = grabRoot(display);
            return now.copy(*client) != before.copy(*client) && measure(now, area).inMiddleThird();
        });
    }
    // Until the text rests with the reading line on the line above the underlined one.
    Reading reading;
    QImage shot;
    waitFor(*app, [&] {
        shot = grabRoot(display);
        reading = measure(shot, area);
        return reading.inMiddleThird() && reading.underline > 2.5 * reading.capHeight();
    });
    save(shot.copy(*client), std::string("three-steps-") + c.name + ".png");
    ASSERT_GT(reading.red, area.width() / 5) << "no reading line in the prompter";
    ASSERT_TRUE(reading.onLine) << "the reading line at row " << reading.row << " crosses no text";
    expectMiddleThird(reading);
    EXPECT_GT(reading.underline, 2.5 * reading.capHeight()) << "no underline on the line below";
    // Text without a colour of its own: the script's text colour, not white, here and in the editor.
    EXPECT_EQ(countIn(shot, area, isWhite), 0) << "text drawn in white";
    EXPECT_GT(editorInk, 5000) << "the editor's text is not in the script's colour";
}

INSTANTIATE_TEST_SUITE_P(
    Windows, PrompterWindowOfSize,
    ::testing::Values(Case{"light-1200x700", "1", {1200, 700}, "UserInterfaceStyleLight"},
                      Case{"dark-small", "1", {480, 320}, "UserInterfaceStyleDark"},
                      Case{"scale-1.5", "1.5", {760, 440}, "UserInterfaceStyleLight"},
                      Case{"scale-2", "2", {560, 330}, "UserInterfaceStyleDark"}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return c == '-' || c == '.'; }, '_');
        return name;
    });

// Four short paragraphs, the last without a closing line break, at a small font (many words per
// line): four lines of text on screen.
TEST_F(PrompterDrawingEndToEnd, TheLastLineWithoutALineBreakIsDrawn) {
    writeDefaults({1000, 600}, "UserInterfaceStyleDark");
    const fs::path script = makeScript(QStringLiteral("ONE\nTWO\nTHREE\nLAST"), 0.9f);
    const std::optional<QRect> client = openPrompter(script, "1", /*lookAtEditor=*/false);
    ASSERT_TRUE(client);
    const QRect area = textArea(grabRoot(display), *client, 1);
    ASSERT_GT(area.height(), 0) << "no view below the bar";
    // Until four lines show, none of them cut.
    std::vector<std::pair<int, int>> bands;
    QImage shot;
    const auto height = [](const std::pair<int, int>& band) { return band.second - band.first + 1; };
    waitFor(*app, [&] {
        shot = grabRoot(display);
        bands = inkBands(shot, area);
        return bands.size() == 4 && height(bands.back()) * 2 > height(bands.front());
    });
    save(shot.copy(*client), "last-line.png");
    ASSERT_EQ(bands.size(), 4u) << "lines of text shown";
    EXPECT_GT(height(bands.back()) * 2, height(bands.front())) << "the last line is cut off";
}

// `count` paragraphs of words short and long, which wrap at different words at different widths,
// with a line "*MARK" (a bookmark) after paragraph `marked`.
QString wrappingParagraphs(int count, int marked = -1) {
    const char* vocabulary[] = {"a",    "presenter", "reads", "aloud", "while", "the", "extraordinarily",
                                "long", "script",    "moves", "up",    "past",  "its", "reading",
                                "line"};
    QString text;
    int word = 0;
    for (int paragraph = 0; paragraph < count; ++paragraph) {
        const int words = 7 + paragraph * 13 % 29;
        for (int i = 0; i < words; ++i, ++word) {
            text += QString::fromLatin1(vocabulary[word * 7 % 15]) + (i + 1 < words ? " " : "\n");
        }
        if (paragraph == marked) {
            text += QStringLiteral("*MARK\n");
        }
    }
    return text;
}

// The line at a prompter's reading position: the first line of ink not wholly above the reading
// line, and how far its ink reaches across the window (the same words drawn at any width reach
// the same share of it).
struct MarkedLine {
    bool found = false;
    double left = 0, right = 0; // shares of the window's width
};

MarkedLine markedLine(const QImage& shot, const QRect& client, const QRect& area) {
    MarkedLine line;
    const int row = measure(shot, area).row;
    for (const auto& band : inkBands(shot, area)) {
        if (band.second < row) {
            continue;
        }
        const auto [left, right] =
            inkSpan(shot, QRect(client.left(), band.first, client.width(), band.second - band.first + 1));
        line.found = right > left;
        line.left = double(left - client.left()) / client.width();
        line.right = double(right - client.left()) / client.width();
        break;
    }
    return line;
}

// Prompters 800 and 960 points wide, stepped 30 lines at a time, read the same line (its words
// reach the same share of each window), and a jump to a bookmark puts its line at both marks.
TEST_F(PrompterDrawingEndToEnd, PromptersOfTwoWidthsReadTheSameLine) {
    writeDefaults({800, 500}, "UserInterfaceStyleDark");
    const fs::path script = makeScript(wrappingParagraphs(40, 30), 0.8f);
    ASSERT_TRUE(openPrompter(script, "1", /*lookAtEditor=*/false));
    std::vector<Window> shown = prompters();
    ASSERT_EQ(shown.size(), 1u);
    const Window narrow = shown[0];
    // A second window from the Prompter menu, 960 wide.
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "--delay", "150", "alt+p", "Down", "Return"}));
    ASSERT_TRUE(waitFor(*app, [&] { return (shown = prompters()).size() == 2; }))
        << "the Prompter menu opened no second prompter window";
    const Window wide = shown[0] == narrow ? shown[1] : shown[0];
    ASSERT_TRUE(xdotool({"windowsize", "--sync", QString::number(wide), "960", "600"}));
    ASSERT_TRUE(xdotool({"windowmove", "--sync", QString::number(wide), "300", "180"}));
    // Each window raised in turn (they overlap), until it holds still with a line at its mark.
    const auto settled = [&](const std::string& name) {
        std::array<MarkedLine, 2> lines;
        const std::array<Window, 2> windows{narrow, wide};
        for (int i = 0; i < 2; ++i) {
            if (!activate(windows[i])) {
                ADD_FAILURE() << "a prompter window did not come forward";
            }
            const QImage shot = stillShot(rootGeometry(display, windows[i]), [&](const QImage& image) {
                const QRect inside(QPoint(0, 0), image.size());
                lines[i] = markedLine(image, inside, textArea(image, inside, 1));
                return lines[i].found;
            });
            save(shot, "two-widths-" + name + (i == 0 ? "-800" : "-960") + ".png");
        }
        return lines;
    };
    for (int step = 1; step <= 4; ++step) {
        SCOPED_TRACE(step * 30);
        ASSERT_TRUE(activate(narrow) && xdotool(keyPresses("Down", 30, 60)));
        const auto lines = settled("line-" + std::to_string(step * 30));
        ASSERT_TRUE(lines[0].found && lines[1].found) << "no line at a reading mark";
        EXPECT_NEAR(lines[0].left, lines[1].left, 0.01) << "the two prompters read different lines";
        EXPECT_NEAR(lines[0].right, lines[1].right, 0.01) << "the two prompters read different lines";
    }
    // Ctrl+1: the first (and only) bookmark, "*MARK", at both marks.
    ASSERT_TRUE(activate(narrow) && xdotool({"key", "ctrl+1"}));
    const auto marked = settled("bookmark");
    for (const MarkedLine& line : marked) {
        EXPECT_LT(line.right - line.left, 0.2) << "the bookmark's short line is not at the mark";
    }
    EXPECT_NEAR(marked[0].right, marked[1].right, 0.01) << "the two prompters read different lines";
}

// Stepped in the prompter onto a line below paragraphs that the editor breaks at other words, the
// editor shows that line at its reading line, crossing the middle of it as the prompter does: a
// click on the word there, Ctrl+D and Ctrl+S save a bookmark on the line the prompter reads.
TEST_F(PrompterDrawingEndToEnd, TheEditorReadsTheLineThePrompterReads) {
    writeDefaults({800, 500}, "UserInterfaceStyleDark");
    enableRemote();
    noKeyRepeat();
    // One word a paragraph below the wrapping ones: lines every view breaks alike.
    QString text = wrappingParagraphs(40);
    const int words = 30;
    for (int i = 0; i < words; ++i) {
        text += QStringLiteral("WORD%1\n").arg(i, 2, 10, QLatin1Char('0'));
    }
    // One line a second: the running time is the number of lines. In DejaVu Sans, whose hinted
    // widths do not follow the size: the editor breaks the paragraphs at other words.
    platform::AttributedString styled(text);
    platform::Attributes look;
    look.font = platform::Font{QStringLiteral("DejaVu Sans"), 12, false, false};
    styled.addAttributes(look, {0, int(text.size())});
    const fs::path script = makeScript(text, 0.8f, std::nullopt, [&](cw::Project& project) {
        project.setText(styled);
        project.setScrollSpeed(50, 0.5, 1.5);
    });
    ASSERT_TRUE(openPrompter(script, "1", /*lookAtEditor=*/false));
    const std::vector<Window> shown = prompters();
    ASSERT_EQ(shown.size(), 1u);
    const Window prompter = shown[0];
    const std::optional<std::uint16_t> port = waitForRemote(*app);
    ASSERT_TRUE(port) << "the remote control never answered";
    int lines = 0;
    const auto readLine = [&] { return PrompterDrawingEndToEnd::readLine(*port, lines); };
    ASSERT_EQ(readLine(), 0);
    const int firstWord = lines - 1 - words; // the last line is the empty one after the closing break
    ASSERT_GT(firstWord, 80) << "the paragraphs above the words are too few lines";
    const int target = firstWord + words / 2;
    ASSERT_TRUE(activate(prompter));
    for (int step = 0; step < target; step += 100) { // each xdotool call within its time
        ASSERT_TRUE(xdotool(keyPresses("Down", std::min(target, step + 100) - step, 40)));
    }
    ASSERT_TRUE(waitFor(*app, [&] { return readLine() == target; }))
        << "the prompter reads line " << readLine();
    save(stillShot(rootGeometry(display, prompter)), "editor-reads-prompter.png");

    // The editor, in front, still: its reading line and the word it crosses (in the text view, away
    // from the sidebar's colour wells).
    ASSERT_TRUE(activate(*editor));
    const QRect editorArea = rootGeometry(display, *editor);
    const QImage shot = stillShot(editorArea);
    save(shot, "editor-reads-editor.png");
    const QRect textView(0, 0, editorArea.width() * 3 / 5, editorArea.height());
    const Reading reading = measure(shot, textView);
    ASSERT_TRUE(reading.onLine) << "the editor's reading line at row " << reading.row << " crosses no text";
    expectMiddleThird(reading);
    const auto [left, right] =
        inkSpan(shot, QRect(0, (reading.top + reading.bottom) / 2, textView.width(), 1));
    ASSERT_LT(left, right);
    ASSERT_TRUE(xdotool({"mousemove", QString::number(editorArea.left() + (left + right) / 2),
                         QString::number(editorArea.top() + reading.row), "click", "1"}));
    ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+d", "ctrl+s"}));
    std::vector<int> marked;
    ASSERT_TRUE(waitFor(*app, [&] { return !(marked = savedBookmarks(script)).empty(); }))
        << "no bookmark saved";
    ASSERT_EQ(marked.size(), 1u);
    const QString read = QStringLiteral("WORD%1").arg(target - firstWord, 2, 10, QLatin1Char('0'));
    EXPECT_EQ(text.mid(marked[0], 6).toStdString(), read.toStdString())
        << "the bookmark is not on the line the prompter reads";
}

// The knobs of the sliders in `area` of `shot`, top to bottom: small squares of one grey, too
// narrow and too low for a button or a field.
std::vector<QPoint> sliderKnobs(const QImage& shot, const QRect& area) {
    const QRect r = area.intersected(shot.rect());
    const auto grey = [&](int x, int y) {
        if (!r.contains(x, y)) {
            return false;
        }
        const QRgb p = shot.pixel(x, y);
        const int low = std::min({qRed(p), qGreen(p), qBlue(p)});
        const int high = std::max({qRed(p), qGreen(p), qBlue(p)});
        return low > 60 && high < 230 && high - low < 12;
    };
    const auto run = [&](int x, int y, int dx, int dy) {
        int length = 0;
        while (grey(x + dx * (length + 1), y + dy * (length + 1))) {
            ++length;
        }
        return length;
    };
    constexpr int side = 7;
    std::vector<QPoint> knobs;
    for (int y = r.top(); y + side <= r.bottom(); ++y) {
        for (int x = r.left(); x + side <= r.right(); ++x) {
            const QPoint centre(x + side / 2, y + side / 2);
            if (!knobs.empty() && centre.y() - knobs.back().y() <= 12) {
                continue;
            }
            bool square = true;
            for (int dy = 0; dy < side && square; ++dy) {
                for (int dx = 0; dx < side && square; ++dx) {
                    square = grey(x + dx, y + dy);
                }
            }
            const int wide = run(centre.x(), centre.y(), 1, 0) + run(centre.x(), centre.y(), -1, 0) + 1;
            const int tall = run(centre.x(), centre.y(), 0, 1) + run(centre.x(), centre.y(), 0, -1) + 1;
            if (square && wide <= 18 && tall <= 18) {
                knobs.push_back(centre);
            }
        }
    }
    return knobs;
}

// Stepped to the middle of the script, then the text laid out anew with twice its lines (the
// script copied and pasted once more at its end), the prompter stays on its line and one more Down
// goes one line on from it; the same after fewer words per line are chosen in the sidebar.
TEST_F(PrompterDrawingEndToEnd, AStepAfterANewLayoutGoesOneLineOn) {
    writeDefaults({800, 500}, "UserInterfaceStyleDark");
    enableRemote();
    noKeyRepeat();
    const fs::path script = makeScript(wrappingParagraphs(40), 0.5f, std::nullopt,
                                       [](cw::Project& project) { project.setScrollSpeed(50, 0.5, 1.5); });
    ASSERT_TRUE(openPrompter(script, "1", /*lookAtEditor=*/false));
    const std::vector<Window> shown = prompters();
    ASSERT_EQ(shown.size(), 1u);
    const Window prompter = shown[0];
    const std::optional<std::uint16_t> port = waitForRemote(*app);
    ASSERT_TRUE(port) << "the remote control never answered";
    int lines = 0;
    ASSERT_EQ(readLine(*port, lines), 0);
    const int target = lines / 2;
    ASSERT_GT(target, 40) << "too few lines";
    ASSERT_TRUE(activate(prompter) && xdotool(keyPresses("Down", target, 40)));
    ASSERT_TRUE(waitFor(*app, [&] { return readLine(*port, lines) == target; }))
        << "the prompter reads line " << readLine(*port, lines);
    const int before = lines;

    ASSERT_TRUE(activate(*editor) &&
                xdotool({"key", "--delay", "150", "ctrl+a", "ctrl+c", "ctrl+End", "ctrl+v"}));
    int line = -1;
    ASSERT_TRUE(
        waitFor(*app, [&] { return (line = readLine(*port, lines)) >= 0 && lines > before * 19 / 10; }))
        << "the paste made " << lines << " lines of " << before;
    EXPECT_EQ(line, target) << "the paste at the end took the prompter off its words";

    ASSERT_TRUE(activate(prompter) && xdotool({"key", "Down"}));
    waitFor(*app, [&] { return readLine(*port, lines) == line + 1; });
    save(stillShot(rootGeometry(display, prompter)), "step-after-new-layout.png");
    EXPECT_EQ(readLine(*port, lines), line + 1) << "the step went from line " << line << " of " << lines;

    // Fewer words per line: two clicks on the track of the sidebar's third slider (Words per Line,
    // below the margins' Width and Position), left of its knob, each a page lower.
    ASSERT_TRUE(activate(*editor));
    const QRect editorArea = rootGeometry(display, *editor);
    const QImage sidebar = stillShot(editorArea);
    const std::vector<QPoint> knobs = sliderKnobs(
        sidebar, QRect(sidebar.width() - 300, 90, 300, sidebar.height() - 90)); // below the toolbar
    save(sidebar, "words-per-line-knobs.png");
    ASSERT_GE(knobs.size(), 3u) << "the sidebar's slider knobs were not found";
    const int wider = lines;
    ASSERT_TRUE(xdotool({"mousemove", QString::number(editorArea.left() + knobs[2].x() - 60),
                         QString::number(editorArea.top() + knobs[2].y()), "click", "--repeat", "2",
                         "--delay", "300", "1"}));
    ASSERT_TRUE(
        waitFor(*app, [&] { return (line = readLine(*port, lines)) >= 0 && lines > wider * 11 / 10; }))
        << "fewer words per line made " << lines << " lines of " << wider;
    ASSERT_TRUE(activate(prompter) && xdotool({"key", "Down"}));
    waitFor(*app, [&] { return readLine(*port, lines) == line + 1; });
    save(stillShot(rootGeometry(display, prompter)), "step-after-words-per-line.png");
    EXPECT_EQ(readLine(*port, lines), line + 1)
        << "after a change of words per line the step went from line " << line << " of " << lines;
}

// The words of the editor's line at its reading position: the line copied with Home, Shift+End
// and Ctrl+C after a click on it at `row` (of the editor window), read back from the clipboard.
QStringList editorLineAt(const QRect& editorArea, int x, int row) {
    if (!xdotool({"mousemove", QString::number(editorArea.left() + x),
                  QString::number(editorArea.top() + row), "click", "1"}) ||
        !xdotool({"key", "--delay", "100", "Home", "shift+End", "ctrl+c"})) {
        return {};
    }
    QProcess clip;
    clip.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"});
    if (!clip.waitForFinished(15000)) {
        return {};
    }
    return QString::fromUtf8(clip.readAllStandardOutput())
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// At the editor's opening size, stepped line by line through numbered paragraphs of words the
// editor breaks otherwise than the prompters, and then through a paragraph long enough that the
// editor holds it cut into blocks: after each step the editor's reading line crosses the middle of
// its own line that holds the first word of the line the prompter reads.
TEST_F(PrompterDrawingEndToEnd, TheEditorsMarkLiesOnTheLineOfTheFirstWordThePrompterReads) {
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        GTEST_SKIP() << "xclip is not installed";
    }
    writeDefaults({800, 500}, "UserInterfaceStyleDark");
    enableRemote();
    noKeyRepeat();
    const char* vocabulary[] = {"a",    "presenter", "reads", "aloud", "while", "the", "extraordinarily",
                                "long", "script",    "moves", "up",    "past",  "its", "reading",
                                "line"};
    QString text;
    int word = 0;
    const auto addWords = [&](int count) {
        for (int i = 0; i < count; ++i, ++word) {
            text += QLatin1Char(' ') + QLatin1String(vocabulary[word * 7 % 15]) + QString::number(word);
        }
    };
    for (int paragraph = 1; paragraph <= 6; ++paragraph) {
        text += QString::number(paragraph) + QLatin1Char('.');
        addWords(5 + paragraph * 11 % 23);
        text += QLatin1Char('\n');
    }
    const int numbered = int(text.size());
    text += QStringLiteral("7.");
    addWords(1800); // over 16,384 characters: cut into blocks in the editor
    text += QLatin1Char('\n');
    platform::AttributedString styled(text);
    platform::Attributes look;
    look.font = platform::Font{QStringLiteral("DejaVu Sans"), 12, false, false};
    styled.addAttributes(look, {0, int(text.size())});
    const float factor = 0.8f;
    const fs::path script = makeScript(text, factor, std::nullopt, [&](cw::Project& project) {
        project.setText(styled);
        project.setScrollSpeed(50, 0.5, 1.5);
    });
    // Where each prompter line starts: laid out as every prompter lays the script out.
    const std::vector<int> starts =
        cw::measurePrompterText(cw::TextUtils::applyFontAndParagraphStyle(styled, cw::layoutFontSize),
                                cw::layoutFontSize * 5 / (1 - factor), cw::LayerTypesetter())
            .lineStarts;
    const auto lineOf = [&](int position) {
        return int(std::upper_bound(starts.begin(), starts.end(), position) - starts.begin()) - 1;
    };
    ASSERT_TRUE(openPrompter(script, "1", /*lookAtEditor=*/false));
    const std::vector<Window> shown = prompters();
    ASSERT_EQ(shown.size(), 1u);
    const Window prompter = shown[0];
    const std::optional<std::uint16_t> port = waitForRemote(*app);
    ASSERT_TRUE(port) << "the remote control never answered";
    int lines = 0;
    ASSERT_EQ(readLine(*port, lines), 0);
    ASSERT_EQ(lines, int(starts.size())) << "the prompter's lines are not those laid out here";
    const QRect editorArea = rootGeometry(display, *editor);
    // The editor's opening size, less what the work area leaves of its height.
    ASSERT_EQ(editorArea.width(), 1180);
    ASSERT_GT(editorArea.height(), 740);
    const QRect textView(0, 0, editorArea.width() * 3 / 5, editorArea.height());
    // Every line of the numbered paragraphs, then lines about the long paragraph's first cut.
    std::vector<int> read;
    for (int line = 1; line <= lineOf(numbered) + 1; ++line) {
        read.push_back(line);
    }
    const int cut = lineOf(numbered + (1 << 14));
    for (int line = cut - 6; line <= cut + 6; ++line) {
        read.push_back(line);
    }
    int at = 0;
    int elsewhere = 0;
    for (const int line : read) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(activate(prompter));
        for (; at < line; at = std::min(line, at + 100)) { // each xdotool call within its time
            ASSERT_TRUE(xdotool(keyPresses("Down", std::min(line, at + 100) - at, 40)));
        }
        // Until the step rests, the middle of the line at the prompter's mark.
        ASSERT_TRUE(waitFor(*app, [&] { return std::abs(readPosition(*port, lines) - (line + 0.5)) < 0.01; }))
            << "the prompter reads line " << readPosition(*port, lines);
        ASSERT_TRUE(activate(*editor));
        const QImage shot = stillShot(editorArea);
        save(shot, "editor-mark-" + std::to_string(line) + ".png");
        const Reading reading = measure(shot, textView);
        const QString first =
            text.mid(starts[std::size_t(line)]).section(QRegularExpression(QStringLiteral("\\s")), 0, 0);
        if (!reading.onLine) {
            ADD_FAILURE() << "the editor's reading line at row " << reading.row << " crosses no text";
            ++elsewhere;
            continue;
        }
        expectMiddleThird(reading);
        const auto [left, right] =
            inkSpan(shot, QRect(0, (reading.top + reading.bottom) / 2, textView.width(), 1));
        ASSERT_LT(left, right);
        const QStringList words = editorLineAt(editorArea, (left + right) / 2, reading.row);
        elsewhere += !words.contains(first);
        EXPECT_TRUE(words.contains(first))
            << "the prompter's line starts with " << first.toStdString()
            << "; the editor's line at its mark reads " << words.join(QLatin1Char(' ')).toStdString();
    }
    EXPECT_EQ(elsewhere, 0) << "steps with the editor's mark off the prompter's first word, of "
                            << read.size();
}

} // namespace

CW_END_TO_END_MAIN()
