// The editor window's document commands against a real project, with fake panels and alerts.
#include "base/FileStamp.h"
#include "cuewright/editor/DocumentCommands.h"
#include "cuewright/editor/ScriptPrinting.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptRecovery.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/codecs/PdfReader.h"
#include "platform/defaults/Defaults.h"
#include "platform/ui/FakeAlertRunner.h"
#include "platform/ui/FakeFileDialogs.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPdfWriter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace std::chrono_literals;
using cw::editor::DocumentCommands;
using Outcome = DocumentCommands::Outcome;
using platform::AttributedString;

namespace {

// Runs the event loop until `done` holds; false after two minutes (a passing run never waits so long).
bool processEventsUntil(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 120000);
}

// Pages of a PDF: each is an object of type /Page.
int pageCount(const QString& pdf) {
    QFile file(pdf);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return int(
        QString::fromLatin1(file.readAll()).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b"))));
}

// Export offers the pop-up's types from Plain Text on.
constexpr int exportTypesFrom = 1;

std::string bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DocumentCommandsTest : public ::testing::Test {
protected:
    DocumentCommandsTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , project(cw::Project::create(defaults))
        , commands(project, &window, defaults) {
        previousDialogs = platform::setFileDialogs(dialogs);
        previousAlerts = platform::setAlertRunner(alerts);
        commands.setRecentDocumentHandler([this](const std::string& path) { recent.push_back(path); });
        project->setText(AttributedString(QStringLiteral("Good evening.\nThis is the news.")));
    }
    ~DocumentCommandsTest() override {
        platform::setFileDialogs(previousDialogs);
        platform::setAlertRunner(previousAlerts);
    }
    QString path(const char* name) const { return QString::fromStdString((dir / name).string()); }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<cw::Project> project;
    QWidget window;
    DocumentCommands commands;
    std::shared_ptr<platform::FakeFileDialogs> dialogs = std::make_shared<platform::FakeFileDialogs>();
    std::shared_ptr<platform::FakeAlertRunner> alerts = std::make_shared<platform::FakeAlertRunner>();
    std::shared_ptr<platform::FileDialogs> previousDialogs;
    std::shared_ptr<platform::AlertRunner> previousAlerts;
    std::vector<std::string> recent;
};

// Save As offers the four types in order at the script format; Export, titled so, offers the
// three export types at the one used last (the first before any export). A name typed with a
// type's extension chooses that type. Only a script save takes the file as the script's own; only
// an export is remembered; a cancel leaves the remembered type.
TEST_F(DocumentCommandsTest, SavePanelSavesOrExportsByTheChosenType) {
    struct Case {
        const char* name;
        bool exporting; // Export… rather than Save As…
        int remembered;
        std::optional<int> picked; // a type chosen in the panel (of all four)
        bool cancel;
        int offered;
        Outcome outcome;
        int rememberedAfter;
        bool becomesPath;
    };
    const Case cases[] = {
        {"a.txt", true, 1, std::nullopt, false, 1, Outcome::exported, 1, false},
        {"b.rtf", true, 0, 2, false, 1, Outcome::exported, 2, false},
        {"out.docx", true, 0, std::nullopt, false, 1, Outcome::exported, 3, false},
        {"evening-news.rtf", true, 1, std::nullopt, false, 1, Outcome::exported, 2, false},
        {"c.docx", false, 3, 3, false, 0, Outcome::exported, 3, false},
        {"notes.txt", false, 3, std::nullopt, false, 0, Outcome::exported, 1, false},
        {"cancelled", true, 2, 3, true, 2, Outcome::cancelled, 2, false},
        {"d.cwr", false, 3, std::nullopt, false, 0, Outcome::saved, 3, true},
        {"e.txt", true, 1, std::nullopt, false, 1, Outcome::exported, 1, false},
        {"f.cwr", false, 1, std::nullopt, false, 0, Outcome::saved, 1, true},
    };
    for (const Case& c : cases) {
        const int first = c.exporting ? exportTypesFrom : 0;
        defaults.set(cw::settings::selectedExportFileTypeIndex, std::int64_t{c.remembered});
        const auto pathBefore = project->representedPath();
        const size_t recentBefore = recent.size();
        project->setHasUnsavedChanges(true);
        const std::optional<int> picked = c.picked ? std::optional<int>(*c.picked - first) : std::nullopt;
        if (c.cancel)
            dialogs->cancelSave(picked);
        else
            dialogs->answerSave(path(c.name), picked);
        EXPECT_EQ(c.exporting ? commands.exportAs() : commands.saveAs(), c.outcome) << c.name;

        const platform::SavePanel& panel = dialogs->savePanels().back();
        EXPECT_EQ(panel.title, c.exporting ? "Export" : "") << c.name;
        ASSERT_EQ(panel.fileTypes.size(), 4u - size_t(first));
        for (size_t i = 0; i < panel.fileTypes.size(); ++i)
            EXPECT_EQ(panel.fileTypes[i].extensions,
                      QStringList{QString::fromLatin1(DocumentCommands::exportFileTypes[first + i])});
        EXPECT_EQ(first + panel.selectedFileType, c.offered) << c.name;
        EXPECT_EQ(defaults.integerForKey(cw::settings::selectedExportFileTypeIndex), c.rememberedAfter)
            << c.name;
        if (!c.cancel) {
            EXPECT_EQ(commands.popupIndex(), c.outcome == Outcome::saved ? 0 : c.rememberedAfter) << c.name;
        }
        EXPECT_EQ(QFile::exists(path(c.name)), !c.cancel) << c.name;
        if (c.becomesPath) {
            EXPECT_EQ(project->representedPath(), path(c.name).toStdString());
            EXPECT_EQ(recent.size(), recentBefore + 1);
            EXPECT_FALSE(project->hasUnsavedChanges());
        } else {
            EXPECT_EQ(project->representedPath(), pathBefore) << c.name;
            EXPECT_EQ(recent.size(), recentBefore) << c.name;
            EXPECT_TRUE(project->hasUnsavedChanges()) << c.name;
        }
    }
    // Nothing was written under a second extension ("out.docx.cwr", "evening-news.rtf.txt").
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.starts_with("defaults") || std::count(name.begin(), name.end(), '.') <= 1) << name;
    }
    EXPECT_EQ(bytesOf(dir / "out.docx").substr(0, 2), "PK") << "not a Word document";
    EXPECT_EQ(bytesOf(dir / "evening-news.rtf").substr(0, 5), "{\\rtf");
    EXPECT_EQ(dialogs->savePanels().front().nameFieldValue, "") << "an untitled script";
    EXPECT_EQ(dialogs->savePanels().back().nameFieldValue, "d.cwr") << "the script's own name";
    EXPECT_EQ(dialogs->savePanels()[dialogs->savePanels().size() - 2].nameFieldValue, "d.txt")
        << "d.cwr's name, as a text";
    EXPECT_EQ(window.windowFilePath(), path("f.cwr"));
    EXPECT_FALSE(window.isWindowModified());
    project->setRepresentedPath(std::nullopt);
    project->setHasUnsavedChanges(true);
    commands.updateTitle();
    EXPECT_EQ(window.windowTitle(), "Untitled[*]");
    EXPECT_TRUE(window.isWindowModified());
    EXPECT_EQ(bytesOf(dir / "a.txt"), "Good evening.\nThis is the news.");
}

// A second copy of one script brought back after a crash shows "talk (copy).cwr": its first save
// proposes that name, beside the script it copies.
TEST_F(DocumentCommandsTest, ACopyBroughtBackProposesTheNameItShowsBesideItsOriginal) {
    const std::string original = (dir / "talk.cwr").string();
    {
        const auto store = cw::RecoveryStore::open(dir / "Recovery");
        for (int copy = 0; copy < 2; ++copy) {
            store->write({cw::RecoveryStore::makeId(), original, "talk.cwr"}, project->document(), {});
        }
    }
    cw::ScriptRecovery recovery(cw::RecoveryStore::open(dir / "Recovery"), defaults);
    const auto restored = recovery.restore([this] { return cw::Project::create(defaults); });
    ASSERT_EQ(restored.size(), 2u);
    ASSERT_EQ(restored[1]->untitledName(), "talk (copy).cwr");
    DocumentCommands copy(restored[1], &window, defaults);
    // Print to PDF (without a printer) names its file after the script as well.
    const bool printsToPdf = QPrinterInfo::availablePrinters().isEmpty();
    for (const bool printing : {false, true}) {
        if (printing && !printsToPdf)
            break;
        const QString name = printing ? "talk (copy).pdf" : "talk (copy).cwr";
        dialogs->cancelSave();
        EXPECT_EQ(printing ? copy.print() : copy.saveAs(), Outcome::cancelled) << printing;
        EXPECT_EQ(dialogs->savePanels().back().directory.toStdString(), dir.path().string()) << printing;
        EXPECT_EQ(dialogs->savePanels().back().nameFieldValue, name);
    }
    EXPECT_EQ(dialogs->savePanels().size(), printsToPdf ? 2u : 1u);
}

// Every panel asks about the file it will really write (the type's extension added to a name
// typed without it or with another one), a read-only file is asked about even on a plain Save, and
// a file that another window shows is refused with the panel still open. Declined, the file stays
// byte for byte.
TEST_F(DocumentCommandsTest, AFileIsReplacedOnlyWhenTheUserAgrees) {
    enum class Ask { exists, readOnly, shownElsewhere, otherCopy, notAFile };
    struct Case {
        const char* name;
        const char* file; // there before, and the file really written
        std::function<Outcome()> command;
        bool replace;
        Ask ask;
        Outcome outcome;
    };
    const auto saveAs = [&](const char* typed, std::optional<int> type = std::nullopt) {
        return [&, typed, type] {
            dialogs->answerSave(path(typed), type);
            return commands.saveAs();
        };
    };
    const auto save = [&](const char* own, bool stamped = false) {
        return [&, own, stamped] {
            project->setRepresentedPath(path(own).toStdString());
            if (stamped)
                project->setDiskStamp(base::fileStamp(path(own).toStdString()));
            return commands.save();
        };
    };
    std::vector<Case> cases = {
        {"typed without extension", "precious.cwr", saveAs("precious"), false, Ask::exists,
         Outcome::cancelled},
        {"typed without extension, Replace", "precious.cwr", saveAs("precious"), true, Ask::exists,
         Outcome::saved},
        {"another extension typed", "notes.v2.cwr", saveAs("notes.v2"), false, Ask::exists,
         Outcome::cancelled},
        {"an export's extension typed, Plain Text picked", "evening-news.rtf",
         [&] {
             defaults.set(cw::settings::selectedExportFileTypeIndex, std::int64_t{1});
             dialogs->answerSave(path("evening-news.rtf"));
             return commands.exportAs();
         },
         false, Ask::exists, Outcome::cancelled},
        {"export typed without extension", "talk.docx", saveAs("talk", 3), false, Ask::exists,
         Outcome::cancelled},
        {"read-only, through the panel", "locked.cwr", saveAs("locked"), false, Ask::readOnly,
         Outcome::cancelled},
        {"read-only, Save to its own file", "own.cwr", save("own.cwr"), false, Ask::readOnly,
         Outcome::cancelled},
        {"read-only, Save to its own file, Replace", "own2.cwr", save("own2.cwr", true), true, Ask::readOnly,
         Outcome::saved},
        {"shown in another window", "shown.cwr", saveAs("shown"), false, Ask::shownElsewhere,
         Outcome::cancelled},
        {"its own file, shown in another window too", "twice.cwr", save("twice.cwr"), false,
         Ask::shownElsewhere, Outcome::failed},
        {"shown in another copy", "theirs.cwr", saveAs("theirs"), false, Ask::otherCopy, Outcome::cancelled},
        // A pipe is refused as opening refuses it, never replaced by a file.
        {"a pipe, through the panel", "pipe.txt", saveAs("pipe", 1), true, Ask::notAFile, Outcome::cancelled},
        {"a pipe, Save to its own file", "pipe.cwr", save("pipe.cwr"), true, Ask::notAFile, Outcome::failed},
    };
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        cases.push_back({"Print to PDF, typed without extension", "printed.pdf",
                         [&] {
                             dialogs->answerSave(path("printed"));
                             return commands.print();
                         },
                         false, Ask::exists, Outcome::cancelled});
        cases.push_back({"Print to PDF onto a pipe", "pipe.pdf",
                         [&] {
                             dialogs->answerSave(path("pipe"));
                             return commands.print();
                         },
                         true, Ask::notAFile, Outcome::cancelled});
    }
    for (const Case& c : cases) {
        project->setRepresentedPath(std::nullopt);
        // Another window, or another copy, shows the file as the case says.
        using Check = std::function<bool(const std::string&)>;
        const Check shown = [&](const std::string& p) { return p == path(c.file).toStdString(); };
        commands.setOpenElsewhereCheck(c.ask == Ask::shownElsewhere ? shown : Check());
        commands.setOtherCopyCheck(c.ask == Ask::otherCopy ? shown : Check());
        const std::string before = std::string("precious ") + c.file;
        ASSERT_TRUE(c.ask != Ask::notAFile || ::mkfifo((dir / c.file).c_str(), 0600) == 0);
        if (c.ask != Ask::notAFile)
            std::ofstream(dir / c.file) << before;
        if (c.ask == Ask::readOnly)
            std::filesystem::permissions(dir / c.file, std::filesystem::perms(0444));
        const size_t alertsBefore = alerts->shown().size();
        alerts->answerButton(c.replace ? "Replace" : "Cancel");
        EXPECT_EQ(c.command(), c.outcome) << c.name;
        ASSERT_EQ(alerts->shown().size(), alertsBefore + 1) << c.name;
        const char* question[] = {"\u201C%1\u201D already exists. Do you want to replace it?",
                                  "\u201C%1\u201D is read-only. Replace it anyway?",
                                  "\u201C%1\u201D is open in another window.",
                                  "\u201C%1\u201D is open in another copy of Cuewright."};
        const QString asked = c.ask == Ask::notAFile ? QStringLiteral("\u201C%1\u201D is not a file.")
                                                     : QString::fromUtf8(question[int(c.ask)]);
        EXPECT_EQ(alerts->shown().back().messageText, asked.arg(c.file)) << c.name;
        if (c.ask == Ask::notAFile)
            EXPECT_FALSE(std::filesystem::is_regular_file(dir / c.file)) << c.name;
        else if (c.replace)
            EXPECT_EQ(cw::ScriptDocumentFile::open(dir / c.file).text.string(),
                      "Good evening.\nThis is the news.")
                << c.name;
        else
            EXPECT_EQ(bytesOf(dir / c.file), before) << c.name;
    }
}

// The close question and its three answers. "Save" closes only once the script is saved: a
// cancelled panel or a save that fails keeps the window and the edits.
TEST_F(DocumentCommandsTest, CloseQuestionClosesOnlyAfterASuccessfulSave) {
    // A destination whose folder cannot be made (a file stands in its way), even for root.
    std::ofstream(dir / "file") << "x";
    const QString refused = path("file") + "/script.cwr";
    struct Case {
        const char* name;
        std::optional<QString> existingPath;
        int answer;
        std::function<void()> panel;
        bool closes, saved;
    };
    const Case cases[] = {
        {"cancel", std::nullopt, 1001, [] {}, false, false},
        {"don't save", std::nullopt, 1002, [] {}, true, false},
        {"save, panel cancelled", std::nullopt, 1000, [&] { dialogs->cancelSave(); }, false, false},
        {"save, panel exports txt, asked again", std::nullopt, 1000,
         [&] {
             dialogs->answerSave(path("x.txt"), 1);
             alerts->answer(1001);
         },
         false, false},
        {"save, folder refuses", refused, 1000, [] {}, false, false},
        {"save, panel refuses", std::nullopt, 1000, [&] { dialogs->answerSave(refused, 0); }, false, false},
        {"save to its file", path("own.cwr"), 1000, [] {}, true, true},
    };
    for (const Case& c : cases) {
        project->setRepresentedPath(c.existingPath ? std::optional(c.existingPath->toStdString())
                                                   : std::nullopt);
        project->setText(AttributedString(QString::fromLatin1(c.name)));
        ASSERT_TRUE(project->hasUnsavedChanges());
        const size_t alertsBefore = alerts->shown().size();
        alerts->answer(c.answer);
        c.panel();
        EXPECT_EQ(commands.windowShouldClose(), c.closes) << c.name;
        EXPECT_EQ(project->hasUnsavedChanges(), !c.saved) << c.name;
        EXPECT_EQ(project->document().text.string(), c.name) << "the edits stay";
        const platform::Alert& question = alerts->shown()[alertsBefore];
        EXPECT_EQ(question.messageText, "Do you want to save the changes you made to this document?");
        EXPECT_EQ(question.informativeText,
                  QString::fromUtf8("Your changes will be lost if you don’t save them."));
        EXPECT_EQ(question.buttons, (QStringList{"Save", "Cancel", "Don't Save"}));
        EXPECT_EQ(alerts->windows()[alertsBefore], &window);
    }
    // Each refused save told the user why; the export was followed by the question again.
    EXPECT_EQ(alerts->shown().size(), std::size(cases) + 3);
    EXPECT_EQ(alerts->shown()[4], alerts->shown()[3]) << "the question again after the export";
    EXPECT_TRUE(commands.windowShouldClose()) << "nothing unsaved, no question";
    EXPECT_EQ(alerts->shown().size(), std::size(cases) + 3);
}

// A PDF that cannot be written whole, for a missing folder or a file-size limit (SIGXFSZ ignored,
// as the application does), is told and leaves the file that was there; none is left cut off.
// Without a printer, Print asks where to put a PDF.
TEST_F(DocumentCommandsTest, PrintsIntoAPdfAndOneNotWrittenWholeLeavesTheOldFile) {
    const QString pdf = path("script.pdf");
    const auto printedText = [&] {
        return platform::codecs::PdfReader::readFile(pdf.toStdString()).plainText().simplified();
    };
    ASSERT_TRUE(commands.printToPdf(pdf));
    EXPECT_EQ(printedText(), "Good evening. This is the news.");
    EXPECT_FALSE(commands.printToPdf(path("missing/folder/script.pdf")));
    EXPECT_EQ(alerts->shown().size(), 1u);

    project->setText(AttributedString(QString("Good evening. ").repeated(4000)));
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit lowered = previous;
    lowered.rlim_cur = 8192;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
    const bool printed = commands.printToPdf(pdf);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(printed);
    ASSERT_EQ(alerts->shown().size(), 2u);
    EXPECT_TRUE(alerts->shown()[1].messageText.contains("the file is larger than this system allows"))
        << alerts->shown()[1].messageText.toStdString();
    EXPECT_EQ(printedText(), "Good evening. This is the news.");
    EXPECT_EQ(QDir(QString::fromStdString(dir.path().string())).entryList(QDir::Files | QDir::Hidden),
              QStringList{"script.pdf"});

    if (QPrinterInfo::availablePrinters().isEmpty()) {
        dialogs->answerSave(path("asked"));
        EXPECT_EQ(commands.print(), Outcome::exported);
        EXPECT_EQ(dialogs->savePanels().back().nameFieldValue, "Untitled.pdf");
        EXPECT_TRUE(processEventsUntil([&] { return QFile::exists(path("asked.pdf")); }));
    }
}

// What is printed is the text as it is: a paragraph of 70,020 characters, and a run of 5,000
// without a space, each break where a line is full, none where the editor would cut them (a short
// line there would end a paragraph of the PDF in mid-page); so each of their paragraphs in the PDF
// ends at a page's end, and every character is there.
TEST_F(DocumentCommandsTest, PrintsTheTextAsItIsWithoutTheEditorsCuts) {
    const QString pdf = path("as-it-is.pdf");
    for (const QString& text : {QStringLiteral("word ").repeated(14004), QString(5000, u'x')}) {
        SCOPED_TRACE(text.left(5).toStdString());
        project->setText(AttributedString(text));
        ASSERT_TRUE(commands.printToPdf(pdf));
        const auto printed = platform::codecs::PdfReader::readFile(pdf.toStdString());
        EXPECT_EQ(int(printed.paragraphs.size()), pageCount(pdf)) << "a line ended short of its column";
        QString characters = printed.plainText();
        characters.remove(QRegularExpression(QStringLiteral("\\s")));
        EXPECT_EQ(characters, QString(text).remove(u' '));
    }
}

// Print goes on off the main thread, the event loop turning meanwhile, and the PDF comes whole;
// after half a second a window shows how far it is, and its Cancel ends the print, writing nothing.
TEST_F(DocumentCommandsTest, PrintingLeavesTheEventLoopRunningAndItsCancelWritesNothing) {
    if (!QPrinterInfo::availablePrinters().isEmpty())
        GTEST_SKIP() << "a printer exists: Print shows the print dialog";
    project->setText(
        AttributedString(QStringLiteral("the presenter reads every word aloud\n").repeated(20000)));
    const QString pdf = path("answering.pdf");
    bool running = false; // posted before the print, so seen before its end
    QMetaObject::invokeMethod(
        qApp, [&] { running = commands.printJob(); }, Qt::QueuedConnection);
    dialogs->answerSave(pdf);
    EXPECT_EQ(commands.print(), Outcome::exported);
    ASSERT_TRUE(processEventsUntil([&] { return !commands.printJob(); })) << "the print never ended";
    EXPECT_TRUE(running) << "the event loop waited for the print";
    EXPECT_EQ(platform::codecs::PdfReader::readFile(pdf.toStdString())
                  .plainText()
                  .count(QStringLiteral("presenter")),
              20000);

    const QString cancelled = path("cancelled.pdf");
    dialogs->answerSave(cancelled);
    EXPECT_EQ(commands.print(), Outcome::exported);
    ASSERT_TRUE(commands.printJob());
    // Print again brings its window forward at once: the print ends in a later turn of the loop.
    EXPECT_EQ(commands.print(), Outcome::cancelled);
    ASSERT_TRUE(commands.printJob());
    QWidget* progress = commands.printJob()->progressWindow();
    EXPECT_TRUE(progress->isVisible());
    progress->findChild<QPushButton*>()->click();
    EXPECT_FALSE(commands.printJob());
    // A print after it writes its own file; the cancelled one's never comes.
    project->setText(AttributedString(QStringLiteral("After.")));
    dialogs->answerSave(path("after.pdf"));
    EXPECT_EQ(commands.print(), Outcome::exported);
    ASSERT_TRUE(processEventsUntil([&] { return QFile::exists(path("after.pdf")); }));
    EXPECT_FALSE(QFile::exists(cancelled));

    // Closing the window while it prints asks first: Cancel keeps both, Wait closes once the PDF
    // is there, Stop Printing at once.
    project->setHasUnsavedChanges(false);
    for (const int answer : {1002, 1000, 1001}) {
        ASSERT_TRUE(processEventsUntil([&] { return !commands.printJob(); }));
        const QString closing = path(("closing-" + std::to_string(answer) + ".pdf").c_str());
        dialogs->answerSave(closing);
        ASSERT_EQ(commands.print(), Outcome::exported);
        alerts->answer(answer);
        EXPECT_EQ(commands.windowShouldClose(), answer != 1002) << answer;
        EXPECT_TRUE(answer != 1000 || QFile::exists(closing)) << "closed before the PDF was there";
    }
    EXPECT_EQ(alerts->shown().back().buttons, (QStringList{"Wait", "Stop Printing", "Cancel"}));

    // A cancel seen before anything is drawn draws nothing.
    cw::editor::PagePrinter::Progress stopped;
    stopped.cancelled = true;
    QPdfWriter writer(path("never.pdf"));
    EXPECT_FALSE(cw::editor::PagePrinter::draw(project->document().text, writer, 300, 12, &stopped));
    EXPECT_EQ(stopped.drawn.load(), 0);
}

// Printed text is readable whatever the script's own size and colour: the print size, black,
// across as many pages as it takes, each line once (none that ends a page comes back, clipped, at
// the top of the next). Words counted as poppler reads them (pdftotext too, where it is installed).
TEST_F(DocumentCommandsTest, PrintsEachLineOnceAtAReadableSizeInBlackAcrossPages) {
    platform::Attributes look;
    look.font = platform::Font{QStringLiteral("DejaVu Sans"), 90, false, false};
    look.foregroundColor = platform::Color::fromQColor(Qt::red);
    const auto wordCount = [](const QString& text) {
        return int(text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).size());
    };
    const QString pdf = path("printed.pdf");
    // Rows of a tab-separated table, left-aligned and centred, print as the editor shows them: each
    // row a line of its own (a tab once threw the next word to the right margin), 3,000 of them on
    // few pages.
    const struct {
        int words;
        int perParagraph;
        QChar between = u' ';
        platform::ParagraphAlignment alignment = platform::ParagraphAlignment::natural;
    } scripts[] = {{9000, 3, u'\t', platform::ParagraphAlignment::left},
                   {300, 3, u'\t', platform::ParagraphAlignment::center},
                   {1536, 12},
                   {1536, 200},
                   {900, 1},
                   {2500, 50}};
    for (const auto& script : scripts) {
        SCOPED_TRACE(script.perParagraph);
        QString words;
        for (int i = 0; i < script.words; ++i)
            words += QStringLiteral("w%1").arg(i) +
                     (i % script.perParagraph == script.perParagraph - 1 ? QChar(u'\n') : script.between);
        AttributedString text;
        look.paragraphStyle = platform::ParagraphStyle{.alignment = script.alignment};
        text.append(words, look);
        project->setText(text);
        ASSERT_TRUE(commands.printToPdf(pdf));
        const auto printed = platform::codecs::PdfReader::readFile(pdf.toStdString());
        EXPECT_EQ(wordCount(printed.plainText()), script.words);
        if (script.between == u'\t') {
            EXPECT_LE(pageCount(pdf), script.words / script.perParagraph / 40 + 1) << "a row broke at a tab";
        }
        for (const auto& paragraph : printed.paragraphs) {
            for (const auto& run : paragraph.runs) {
                ASSERT_TRUE(run.style.pointSize);
                EXPECT_NEAR(*run.style.pointSize, DocumentCommands::printPointSize, 0.5)
                    << run.text.toStdString();
                EXPECT_EQ(run.style.foreground.value_or(platform::codecs::RgbColor{}),
                          platform::codecs::RgbColor{});
            }
        }
        if (QProcess tool; !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
            tool.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
            ASSERT_TRUE(tool.waitForFinished(60000));
            EXPECT_EQ(wordCount(QString::fromUtf8(tool.readAllStandardOutput())), script.words)
                << "pdftotext";
        }
    }
    EXPECT_GE(pageCount(pdf), 3) << "2500 words at 12 pt fill several pages";
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromLatin1(file.readAll());

    // The first page's drawing starts where its margins end: its content opens with the move to
    // the printable area's top left corner ("a 0 0 d x y cm", in points from the bottom left).
    const QByteArray bytes = content.toLatin1();
    const qsizetype start = bytes.indexOf("stream", bytes.indexOf("/FlateDecode")) + 7;
    QByteArray packed = bytes.mid(start, bytes.indexOf("endstream", start) - start);
    packed.prepend(QByteArray::fromHex("00100000")); // qUncompress's size hint
    const QString page = QString::fromLatin1(qUncompress(packed));
    const auto corner = QRegularExpression(QStringLiteral("(\\S+) (\\S+) cm")).match(page);
    ASSERT_TRUE(corner.hasMatch()) << page.left(200).toStdString();
    constexpr double usual = DocumentCommands::printMarginMillimetres / 25.4 * 72; // 56.7 pt
    EXPECT_NEAR(corner.captured(1).toDouble(), usual, 1.0) << "left margin";
    const auto box = QRegularExpression(QStringLiteral("/MediaBox \\[0 0 \\S+ (\\S+)\\]")).match(content);
    ASSERT_TRUE(box.hasMatch());
    EXPECT_NEAR(box.captured(1).toDouble() - corner.captured(2).toDouble(), usual, 1.0) << "top margin";
}

} // namespace
