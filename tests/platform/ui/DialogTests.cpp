// Alerts and file panels: the real alert's answers, the fakes, and the panel helpers.
#include "platform/ui/AlertRunner.h"
#include "platform/ui/FakeAlertRunner.h"
#include "platform/ui/FakeFileDialogs.h"
#include "platform/ui/FileDialogs.h"

#include "support/PlainTextLabel.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <functional>

using platform::Alert;
using platform::alertFirstButtonReturn;

namespace {

const Alert unsavedChanges{"Do you want to save the changes you made to this document?",
                           "Your changes will be lost if you don’t save them.",
                           {"Save", "Cancel", "Don't Save"},
                           Alert::Style::warning};

// Runs `act` on the alert that will be open once the event loop runs.
void onAlert(std::function<void(QMessageBox&)> act) {
    QTimer::singleShot(0, [act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        act(*box);
    });
}

void pressSoon(const QString& title) {
    onAlert([title](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons()) {
            if (button->text() == title) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << title.toStdString();
        box.reject();
    });
}

} // namespace

// The pressed button's position answers (1000 + index); Escape answers Cancel, and an alert without
// buttons gets OK.
TEST(MessageBoxAlertRunner, AnswersThePositionOfThePressedButton) {
    platform::MessageBoxAlertRunner runner;
    for (int index : {2, 0, 1}) {
        pressSoon(unsavedChanges.buttons[index]);
        EXPECT_EQ(runner.run(unsavedChanges, nullptr), 1000 + index);
    }
    onAlert([](QMessageBox& box) {
        ASSERT_NE(box.escapeButton(), nullptr);
        box.escapeButton()->click();
    });
    EXPECT_EQ(runner.run(unsavedChanges, nullptr), 1001);
    pressSoon(QMessageBox::tr("OK"));
    EXPECT_EQ(runner.run(Alert{"Done", {}, {}, Alert::Style::informational}, nullptr), 1000);

    // Gone without a button (the application quit under it, a signal): no answer, not Cancel.
    for (const bool quitting : {false, true}) {
        onAlert([quitting](QMessageBox& box) {
            platform::setApplicationQuitting(quitting);
            box.done(0);
        });
        EXPECT_EQ(runner.run(unsavedChanges, nullptr), platform::alertNoAnswer);
    }
    // Asked while quitting, it is not shown and answers nothing.
    bool shown = false;
    platform::setApplicationQuitting(true);
    QTimer::singleShot(0, [&shown] {
        if (auto* box = QApplication::activeModalWidget()) {
            shown = true;
            box->close();
        }
    });
    EXPECT_EQ(runner.run(unsavedChanges, nullptr), platform::alertNoAnswer);
    platform::setApplicationQuitting(false);
    QApplication::processEvents();
    EXPECT_FALSE(shown);
}

TEST(MessageBoxAlertRunner, FileNamesAndReasonsShowAsTypedAndCanBeSelected) {
    platform::MessageBoxAlertRunner runner;
    const QString name =
        QStringLiteral("<h1 style='color:red'>Big</h1><img src='/usr/share/pixmaps/debian-logo.png'>");
    QStringList shown;
    onAlert([&](QMessageBox& box) {
        for (QLabel* label : box.findChildren<QLabel*>()) {
            if (label->text().contains(QStringLiteral("<h1"))) {
                shown << label->text();
                EXPECT_TRUE(testsupport::showsPlainText(*label)) << label->text().toStdString();
                EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse) << "to be copied";
            }
        }
        box.buttons().front()->click();
    });
    runner.run(
        Alert{
            "The document " + name + " could not be opened.", "Reason: " + name, {}, Alert::Style::critical},
        nullptr);
    EXPECT_EQ(shown.size(), 2);
}

// The fake answers from its script, then its default, and records every alert; once installed it is
// the runner until removed.
TEST(FakeAlertRunner, AnswersFromItsScriptThenTheDefaultAndRecordsEveryAlert) {
    auto fake = std::make_shared<platform::FakeAlertRunner>();
    auto previous = platform::setAlertRunner(fake);
    fake->answer(1001);
    fake->answerButton("Don't Save");
    fake->answerButton("No such button");
    EXPECT_EQ(platform::alertRunner().run(unsavedChanges, nullptr), 1001);
    EXPECT_EQ(fake->run(unsavedChanges, nullptr), 1002);
    EXPECT_EQ(fake->run(unsavedChanges, nullptr), alertFirstButtonReturn);
    fake->defaultAnswer = 1001;
    EXPECT_EQ(fake->run(unsavedChanges, nullptr), 1001);
    ASSERT_EQ(fake->shown().size(), 4u);
    EXPECT_EQ(fake->shown()[0], unsavedChanges);
    EXPECT_EQ(platform::setAlertRunner(previous), fake);
}

TEST(FileDialogHelpers, NameFiltersListTheExtensionsAndPathsGetTheChosenTypesOne) {
    EXPECT_EQ(platform::nameFilter("Cuewright Document", {"cwr"}), "Cuewright Document (*.cwr)");
    EXPECT_EQ(platform::nameFilter("Text", {"txt", "text"}), "Text (*.txt *.text)");
    EXPECT_EQ(platform::nameFilter("Anything", {}), "Anything (*)");
    // Added unless the path has one of the type's extensions.
    EXPECT_EQ(platform::withExtension("/tmp/script", {"cwr"}), "/tmp/script.cwr");
    EXPECT_EQ(platform::withExtension("/tmp/script.CWR", {"cwr"}), "/tmp/script.CWR");
    EXPECT_EQ(platform::withExtension("/tmp/script.v2", {"txt", "text"}), "/tmp/script.v2.txt");
    EXPECT_EQ(platform::withExtension("/tmp/notes.text", {"txt", "text"}), "/tmp/notes.text");
    EXPECT_EQ(platform::withExtension("/tmp/script", {}), "/tmp/script");
    // A save panel's name with a type's extension chooses that type; any other gets the chosen one's.
    platform::SavePanel panel;
    panel.fileTypes = {{"Text", {"txt"}}, {"RTF", {"rtf"}}, {"Word", {"docx"}}};
    EXPECT_EQ(platform::savePanelChoice(panel, "/tmp/out.DOCX", 0),
              (platform::SaveChoice{"/tmp/out.DOCX", 2}));
    EXPECT_EQ(platform::savePanelChoice(panel, "/tmp/news.rtf", 0),
              (platform::SaveChoice{"/tmp/news.rtf", 1}));
    EXPECT_EQ(platform::savePanelChoice(panel, "/tmp/out.cwr", 1),
              (platform::SaveChoice{"/tmp/out.cwr.rtf", 1}));
    EXPECT_EQ(platform::savePanelChoice(panel, "/tmp/out", 2), (platform::SaveChoice{"/tmp/out.docx", 2}));
}

// Open panels answer scripted paths then cancel; the installed fake is the dialogs until removed.
TEST(FakeFileDialogs, OpenPanelsAnswerScriptedPathsThenCancel) {
    auto fake = std::make_shared<platform::FakeFileDialogs>();
    auto previous = platform::setFileDialogs(fake);
    fake->answerOpen({"/a.cwr", "/b.cwr"});
    const platform::OpenPanel panel{"Open", {"cwr", "rtf"}, {}, false, {}};
    EXPECT_EQ(platform::fileDialogs().runOpenPanel(panel, nullptr), QStringList{"/a.cwr"});
    EXPECT_TRUE(fake->runOpenPanel(panel, nullptr).isEmpty());
    ASSERT_EQ(fake->openPanels().size(), 2u);
    EXPECT_EQ(fake->openPanels()[0], panel);
    EXPECT_EQ(platform::setFileDialogs(previous), fake);
}

TEST(FakeFileDialogs, SavePanelsReportTheTypePickedWhileRunning) {
    platform::FakeFileDialogs fake;
    std::vector<int> picked;
    platform::SavePanel panel;
    panel.nameFieldValue = "Script";
    panel.fileTypes = {{"Cuewright", {"cwr"}}, {"Text", {"txt"}}, {"RTF", {"rtf"}}};
    panel.selectedFileType = 0;
    panel.fileTypeChanged = [&](int index) { picked.push_back(index); };

    fake.answerSave("/tmp/Script", 2);
    const auto choice = fake.runSavePanel(panel, nullptr);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->path, "/tmp/Script.rtf");
    EXPECT_EQ(choice->fileType, 2);

    fake.cancelSave(1);
    EXPECT_FALSE(fake.runSavePanel(panel, nullptr).has_value());
    EXPECT_EQ(picked, (std::vector<int>{2, 1}));
    EXPECT_FALSE(fake.runSavePanel(panel, nullptr).has_value()) << "nothing scripted answers as cancelled";
}
