// The real cuewright binary handed large texts and pastes while it runs: each goes into its window
// while the remote control goes on answering, memory stays bounded, the application then falls
// idle and a SIGTERM ends it; printing a large text goes on while the remote answers too. Each
// shape (see Shapes) is one whose layout once never finished or took minutes. The paragraph is
// CW_LARGE_TEXT_MB megabytes (2 unless set; 10 is the size people try by hand).
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include "platform/codecs/PdfReader.h"
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// The processor time the process `pid` has used, in clock ticks (0 when it cannot be read).
std::uint64_t processorTicks(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string all((std::istreambuf_iterator<char>(stat)), {});
    // The name in parentheses may hold spaces: the fields are counted after it.
    const std::size_t nameEnd = all.rfind(')');
    if (nameEnd == std::string::npos) {
        return 0;
    }
    std::istringstream fields(all.substr(nameEnd + 1));
    std::string field;
    std::uint64_t user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            user = std::stoull(field);
        } else if (i == 15) {
            system = std::stoull(field);
        }
    }
    return user + system;
}

// A letter with a thousand combining marks on it, in UTF-8: over and over without a space, a
// storm of combining marks, each letter one grapheme of a thousand and one characters.
const std::string& stormUnit() {
    static const std::string unit = [] {
        QString letter(u'e');
        for (int i = 0; i < 1000; ++i) {
            letter += QChar(char16_t(0x300 + i % 20));
        }
        return letter.toStdString();
    }();
    return unit;
}

struct Shape {
    const char* name;
    const char* unit; // repeated to the size
    std::size_t megabytes;
};

class LargeTextEndToEnd : public AppTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(LargeTextEndToEnd, GoesInWhileTheRemoteAnswersAndTheApplicationSettles) {
    const Shape shape = GetParam();
    enableRemote();
    setDefault(cw::settings::startupMode, "DoNothing");
    const fs::path normal = makeScript("normal.cwr", QStringLiteral("An ordinary script."));
    QProcess& app = start({pathArg(normal)});
    ASSERT_TRUE(waitForWindow(app, "normal.cwr")) << "no editor window";
    const std::optional<std::uint16_t> port = waitForRemote(app);
    ASSERT_TRUE(port) << "the remote control never answered";

    const std::size_t bytes = shape.megabytes << 20;
    const fs::path large = work / (std::string(shape.name) + ".txt");
    {
        const std::string words = shape.unit;
        std::string text;
        text.reserve(bytes + words.size());
        while (text.size() < bytes) {
            text += words;
        }
        std::ofstream(large, std::ios::binary) << text;
    }
    QProcess& later = start({pathArg(large)});
    ASSERT_TRUE(later.waitForFinished(60000) && later.exitCode() == 0)
        << "the later start went on on its own";
    const auto handedOver = std::chrono::steady_clock::now();
    const std::uint64_t ticksAtHandOver = processorTicks(app.processId());

    // A controller asking once a second while the text goes in.
    int answered = 0;
    for (int probe = 0; probe < 60; ++probe) {
        const auto due = handedOver + std::chrono::seconds(probe + 1);
        answered += remoteStatusReply(*port).empty() ? 0 : 1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        app.waitForFinished(int(std::max<std::int64_t>(left.count(), 0)));
    }
    EXPECT_GE(answered, 48) << "the remote control fell silent";
    EXPECT_TRUE(findWindow(display, root, "Untitled")) << "no window of the text";

    // Idle: two seconds in a row of next to no processor time, within three minutes of the hand-over.
    bool idle = false;
    int quiet = 0;
    std::uint64_t before = processorTicks(app.processId());
    while (!idle && app.state() == QProcess::Running &&
           std::chrono::steady_clock::now() - handedOver < std::chrono::minutes(3)) {
        app.waitForFinished(1000);
        const std::uint64_t now = processorTicks(app.processId());
        quiet = now - before <= 2 ? quiet + 1 : 0;
        before = now;
        idle = quiet >= 2;
    }
    EXPECT_TRUE(idle) << "still busy three minutes after the hand-over";
    const std::uint64_t peak = peakResidentBytes(app.processId());
    EXPECT_LT(peak, std::uint64_t{1} << 30);
    std::printf("%zu MB, %s: %d of 60 probes answered, %.1f s of processor time to idle, "
                "at most %llu MB held\n",
                bytes >> 20, shape.name, answered,
                double(before - ticksAtHandOver) / double(::sysconf(_SC_CLK_TCK)),
                static_cast<unsigned long long>(peak >> 20));
    screenshot(("large-text-" + std::string(shape.name) + ".png").c_str());

    ::kill(pid_t(app.processId()), SIGTERM);
    EXPECT_TRUE(app.waitForFinished(15000) && app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0)
        << "SIGTERM was not honoured within 15 s";
}

// Pastes by Ctrl+V of what another program (xclip) holds on the clipboard: sixteen of 16,000
// letters without a space into one paragraph, then a letter typed; and one of two million short
// lines. The remote control answers while they go in, the text saved is what was pasted, and
// memory stays bounded.
struct Paste {
    const char* name;
    QString clipboard;
    int times;
};

class LargePasteEndToEnd : public AppTest, public ::testing::WithParamInterface<Paste> {};

TEST_P(LargePasteEndToEnd, GoesInWhileTheRemoteAnswers) {
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        GTEST_SKIP() << "xclip is not installed";
    }
    const Paste paste = GetParam();
    const fs::path script = makeScript("pasted.cwr", QStringLiteral("Heading"));
    QProcess* app = nullptr;
    std::optional<Window> editor;
    std::uint16_t port = 0;
    startWithRemote(script, app, editor, port);
    const fs::path clip = work / "clip.txt";
    std::ofstream(clip, std::ios::binary) << paste.clipboard.toStdString();
    // xclip stays to answer for the clipboard until another program takes it.
    QProcess xclip;
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.setStandardErrorFile(QProcess::nullDevice());
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i", pathArg(clip)});
    ASSERT_TRUE(xclip.waitForFinished(15000) && xclip.exitCode() == 0);
    noKeyRepeat();
    ASSERT_TRUE(activate(*editor));
    QStringList keys{"key", "--delay", "200", "ctrl+End"};
    for (int i = 0; i < paste.times; ++i) {
        keys << "ctrl+v";
    }
    ASSERT_TRUE(xdotool(keys));
    const auto start = std::chrono::steady_clock::now();
    int answered = 0;
    for (int probe = 0; probe < 20; ++probe) {
        const auto due = start + std::chrono::seconds(probe + 1);
        answered += remoteStatusReply(port).empty() ? 0 : 1;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        app->waitForFinished(int(std::max<std::int64_t>(left.count(), 0)));
    }
    EXPECT_GE(answered, 16) << "the remote control fell silent";
    // Saved once all of it is in (a save meanwhile holds the text from before it), then a letter typed.
    const QString pasted = QStringLiteral("Heading") + paste.clipboard.repeated(paste.times);
    int polls = 0;
    ASSERT_TRUE(waitFor(*app,
                        [&] {
                            if (polls++ % 40 == 0 && !xdotool({"key", "ctrl+s"})) {
                                return false;
                            }
                            return scriptText(script).size() >= pasted.size();
                        }))
        << "the pasted text was not saved: " << scriptText(script).size() << " of " << pasted.size()
        << " characters, " << (screenshot("large-paste-unsaved.png"), "");
    ASSERT_TRUE(xdotool({"key", "--delay", "200", "ctrl+End", "z", "ctrl+s"}));
    const QString expected = pasted + u'z';
    ASSERT_TRUE(waitFor(*app, [&] { return scriptText(script).size() >= expected.size(); }))
        << "the letter typed was not saved";
    EXPECT_TRUE(scriptText(script) == expected);
    EXPECT_LT(peakResidentBytes(app->processId()), std::uint64_t{1} << 30);
    std::printf("%s: %d of 20 probes answered, at most %llu MB held\n", paste.name, answered,
                static_cast<unsigned long long>(peakResidentBytes(app->processId()) >> 20));
    screenshot((std::string("large-paste-") + paste.name + ".png").c_str());
}

INSTANTIATE_TEST_SUITE_P(Pastes, LargePasteEndToEnd,
                         ::testing::Values(Paste{"no-space", QString(16000, u'x'), 16},
                                           Paste{"short-lines", QStringLiteral("word\n").repeated(2000000),
                                                 1}),
                         [](const ::testing::TestParamInfo<Paste>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

std::size_t paragraphMegabytes() {
    const char* megabytes = std::getenv("CW_LARGE_TEXT_MB");
    return std::size_t(megabytes && *megabytes ? std::atoi(megabytes) : 2);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, LargeTextEndToEnd,
    ::testing::Values(Shape{"one-paragraph",
                            "the presenter reads every word of the script aloud at a steady pace ",
                            paragraphMegabytes()},
                      Shape{"a-word-a-line", "word\n", 10}, Shape{"no-space", "x", 10},
                      Shape{"combining-storm", stormUnit().c_str(), 4}),
    [](const ::testing::TestParamInfo<Shape>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

class LargeWorkEndToEnd : public AppTest {
protected:
    // Asks the remote control once a second until `done`, within `limit`: how many of the
    // questions were answered, and how many asked.
    std::pair<int, int> probeUntil(QProcess& app, std::uint16_t port, const std::function<bool()>& done,
                                   std::chrono::seconds limit) {
        const auto start = std::chrono::steady_clock::now();
        int answered = 0;
        int asked = 0;
        while (!done() && app.state() == QProcess::Running &&
               std::chrono::steady_clock::now() - start < limit) {
            const auto due = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            answered += remoteStatusReply(port).empty() ? 0 : 1;
            ++asked;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
            app.waitForFinished(int(std::max<std::int64_t>(left.count(), 0)));
        }
        return {answered, asked};
    }
};

// Print to PDF (Ctrl+P, Return in its panel) of a script of fifty thousand lines, more than Qt's
// layout of a document once reached before it looped for good, and a paragraph of 70,020
// characters: the remote goes on answering while it prints, the PDF comes with every word, and
// SIGTERM then ends the application.
TEST_F(LargeWorkEndToEnd, PrintToPdfOfFiftyThousandLinesGoesOnWhileTheRemoteAnswers) {
    setDefault(cw::settings::startupMode, "DoNothing");
    const fs::path script = makeScript("lines.cwr", QStringLiteral("word ").repeated(14004) + u'\n' +
                                                        QStringLiteral("line\n").repeated(50000));
    QProcess* app = nullptr;
    std::optional<Window> editor;
    std::uint16_t port = 0;
    startWithRemote(script, app, editor, port);
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+p"}));
    const std::optional<Window> panel = waitForNamed(*app, "Print to PDF");
    ASSERT_TRUE(panel && activate(*panel)) << "no panel titled Print to PDF";
    ASSERT_TRUE(xdotool({"key", "Return"}) && waitGone(*app, *panel));

    const fs::path pdf = work / "lines.pdf";
    const auto [answered, asked] = probeUntil(
        *app, port, [&] { return fs::exists(pdf); }, std::chrono::minutes(3));
    ASSERT_TRUE(fs::exists(pdf)) << "no PDF three minutes after Print";
    std::printf("printed 50,000 lines: %d of %d probes answered\n", answered, asked);
    EXPECT_GE(answered * 10, asked * 9) << "the remote control fell silent while printing";
    const QString text = platform::codecs::PdfReader::readFile(pdf.string()).plainText();
    EXPECT_EQ(text.count(QStringLiteral("word")), 14004);
    EXPECT_EQ(text.count(QStringLiteral("line")), 50000);

    ::kill(pid_t(app->processId()), SIGTERM);
    EXPECT_TRUE(app->waitForFinished(15000) && app->exitStatus() == QProcess::NormalExit &&
                app->exitCode() == 0)
        << "SIGTERM was not honoured within 15 s";
}

// Print to PDF of a centred "JOHN:<tab>Hello", a left-aligned "MARY:<tab>Good evening." and 3,000
// tab-separated rows, read with pdftotext -bbox: each a line of its own, the word after the tab at
// the editor's tab stop (60 pt of paper), on few pages (a tab once ran to the right margin).
TEST_F(LargeWorkEndToEnd, PrintedTabsStopWhereTheEditorsDo) {
    platform::Attributes centred;
    centred.paragraphStyle = platform::ParagraphStyle{.alignment = platform::ParagraphAlignment::center};
    platform::AttributedString text(QStringLiteral("JOHN:\tHello\n"), centred);
    text.append(
        QStringLiteral("MARY:\tGood evening.\n") + QStringLiteral("row\tname\tvalue\n").repeated(3000), {});
    QProcess* app = nullptr;
    ASSERT_TRUE(startEditing(makeScript("table.cwr", text), app) && xdotool({"key", "ctrl+p"}));
    const std::optional<Window> panel = waitForNamed(*app, "Print to PDF");
    ASSERT_TRUE(panel && activate(*panel) && xdotool({"key", "Return"}));
    ASSERT_TRUE(waitFor(*app, [&] { return fs::exists(work / "table.pdf"); })) << "no PDF";
    QProcess tool;
    tool.start(QStringLiteral("pdftotext"),
               {QStringLiteral("-bbox"), pathArg(work / "table.pdf"), QStringLiteral("-")});
    ASSERT_TRUE(tool.waitForFinished(60000));
    const QString boxes = QString::fromUtf8(tool.readAllStandardOutput());
    const auto box = [&](const char* word) { // xMin, yMin of its first showing
        const auto m =
            QRegularExpression(QStringLiteral(R"re(xMin="([\d.]+)" yMin="([\d.]+)"[^>]*>%1<)re").arg(word))
                .match(boxes);
        return QPointF(m.captured(1).toDouble(), m.captured(2).toDouble());
    };
    const double column = 20 / 25.4 * 72; // the 2 cm margin
    EXPECT_NEAR(box("Hello").y(), box("JOHN:").y(), 1.0);
    EXPECT_NEAR(box("Good").y(), box("MARY:").y(), 1.0);
    EXPECT_NEAR(box("Good").x(), column + 60, 1.5) << "not at the first tab stop";
    EXPECT_NEAR(box("value").x(), column + 120, 1.5);
    EXPECT_LE(boxes.count(QStringLiteral("<page ")), 3002 / 40 + 1);
}

// A storm of combining marks (see stormUnit) handed to a running copy: while it goes in, SIGTERM
// ends the application within 15 s.
TEST_F(LargeWorkEndToEnd, SigtermEndsTheApplicationWithinFifteenSecondsWhileACombiningStormGoesIn) {
    setDefault(cw::settings::startupMode, "DoNothing");
    const fs::path normal = makeScript("normal.cwr", QStringLiteral("An ordinary script."));
    QProcess* app = nullptr;
    std::optional<Window> editor;
    std::uint16_t port = 0;
    startWithRemote(normal, app, editor, port);
    const std::string unit = stormUnit();
    const fs::path storm = work / "storm.txt";
    std::ofstream(storm, std::ios::binary)
        << QString::fromStdString(unit).repeated(int((4 << 20) / unit.size())).toStdString();
    QProcess& later = start({pathArg(storm)});
    ASSERT_TRUE(later.waitForFinished(60000) && later.exitCode() == 0)
        << "the later start went on on its own";
    ASSERT_TRUE(waitForWindow(*app, "Untitled")) << "the storm never reached a window";

    const auto [answered, asked] = probeUntil(
        *app, port, [] { return false; }, std::chrono::seconds(10));
    std::printf("a storm of combining marks: %d of %d probes answered while it went in\n", answered, asked);
    ASSERT_EQ(app->state(), QProcess::Running);
    ::kill(pid_t(app->processId()), SIGTERM);
    EXPECT_TRUE(app->waitForFinished(15000)) << "SIGTERM was not honoured within 15 s";
}

} // namespace

CW_END_TO_END_MAIN()
