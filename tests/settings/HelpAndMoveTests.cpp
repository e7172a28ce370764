// Help pages and mails through a fake opener, and the move offer's plan and executor.
#include "settings/SettingsTestSupport.h"

#include "cuewright/settings/AppMover.h"
#include "cuewright/settings/HelpActions.h"
#include "cuewright/settings/HelpLinks.h"
#include "cuewright/settings/KeyboardShortcutsWindowController.h"
#include "cuewright/settings/SupportMail.h"
#include "cuewright/settings/Updater.h"
#include "cuewright/settings/UrlOpener.h"
#include "platform/keys/KeyCodes.h"
#include "platform/ui/FakeAlertRunner.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrlQuery>

#include <fstream>

#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace cw;
using settingstest::Store;

struct FakeOpener : UrlOpener {
    std::vector<QUrl> opened;
    bool accepts = true;
    void open(const QUrl& url, Done done) override {
        opened.push_back(url);
        done(accepts);
    }
};

struct OpenerFixture : ::testing::Test {
    std::shared_ptr<FakeOpener> opener = std::make_shared<FakeOpener>();
    std::shared_ptr<UrlOpener> previous = setUrlOpener(opener);
    ~OpenerFixture() override { setUrlOpener(previous); }
};

QString decodedQueryItem(const QUrl& url, const QString& key) {
    return QUrlQuery(url).queryItemValue(key, QUrl::FullyDecoded);
}

TEST(Mail, EveryPartDecodesBackToItsInput) {
    const QString texts[] = {"two words", "line one\nline two", "caf\u00e9 \u00fcber",
                             "fish & chips = 2+2?#x", "100% <sure>"};
    for (const QString& text : texts) {
        const auto url = mailtoUrl("support+desk@example.org", text, text + " & more");
        ASSERT_TRUE(url) << text.toStdString();
        EXPECT_EQ(url->scheme(), "mailto");
        EXPECT_EQ(url->path(QUrl::FullyDecoded), "support+desk@example.org");
        // Mail programs get the address as it is written, "@" included.
        EXPECT_TRUE(url->toEncoded().startsWith("mailto:support+desk@example.org?subject="))
            << url->toEncoded().toStdString();
        EXPECT_EQ(decodedQueryItem(*url, "subject"), text);
        EXPECT_EQ(decodedQueryItem(*url, "body"), text + " & more");
        EXPECT_EQ(QUrlQuery(*url).queryItems().size(), 2) << text.toStdString();
    }
}

TEST(Mail, SupportBodyCarriesTheSystemOnceAndTheMessagePlaceOnce) {
    const QString body = supportMailBody({"Cuewright", "0.1.0", "7"}, "Debian GNU/Linux 12", std::nullopt);
    EXPECT_EQ(body, "----\nApplication: Cuewright 0.1.0 (Build 7) (DP)\nOS: Debian GNU/Linux 12\n"
                    "Machine model: Unknown\n----\n\n<Your message here>");
    testsupport::TempDir dir;
    const QString file = QString::fromStdString((dir / "product_name").string());
    EXPECT_EQ(machineModel(file), std::nullopt);
    std::ofstream(file.toStdString()) << "ThinkPad X1 Carbon\n";
    EXPECT_EQ(machineModel(file), "ThinkPad X1 Carbon");
}

TEST_F(OpenerFixture, HelpActionsOpenPagesAndMailsAndFallBackToTheHelpPage) {
    Store s;
    HelpActions help(s.defaults);
    help.performAction("helpShowFAQ:", nullptr);
    help.performAction("contactSupport:", nullptr);
    ASSERT_EQ(opener->opened.size(), 2u);
    EXPECT_EQ(opener->opened[0], *helpPageUrl(HelpPage::faq));
    const QUrl mail = opener->opened[1];
    EXPECT_EQ(mail.path(), supportAddress());
    EXPECT_TRUE(mail.toEncoded().startsWith("mailto:" + supportAddress().toUtf8() + "?"));
    EXPECT_EQ(decodedQueryItem(mail, "subject"), "Cuewright Support");
    EXPECT_TRUE(decodedQueryItem(mail, "body").endsWith("----\n\n<Your message here>"));
    EXPECT_EQ(decodedQueryItem(mail, "body").count("<Your message here>"), 1);

    opener->opened.clear();
    opener->accepts = false;
    const auto runner = std::make_shared<platform::FakeAlertRunner>();
    const auto previousRunner = platform::setAlertRunner(runner);
    runner->answerButton("OK");
    help.suggestAnImprovement();
    platform::setAlertRunner(previousRunner);
    ASSERT_EQ(opener->opened.size(), 1u);
    EXPECT_EQ(decodedQueryItem(opener->opened[0], "body"), improvementBody);
    EXPECT_FALSE(help.respondsToAction("showWelcomeWindow:"));

    // The shortcuts window is made once and its page follows the bindings at every showing.
    help.showKeyboardShortcuts();
    KeyboardShortcutsWindowController* shortcuts = help.keyboardShortcutsWindow();
    KeyBindings bindings;
    bindings.rewind = KeyBindings::Key{platform::keycode::r, platform::modifier::option};
    bindings.save(s.defaults, s.center);
    help.showKeyboardShortcuts();
    EXPECT_EQ(help.keyboardShortcutsWindow(), shortcuts);
    EXPECT_TRUE(shortcuts->browser()->toPlainText().contains("Alt+R"));
}

// Without a web browser or a mail program an alert says so, with the address to use by hand; the
// support mail's prepared message, with the system's details, is offered to copy.
TEST_F(OpenerFixture, WhatNoProgramTookIsSaidWithItsAddress) {
    const auto runner = std::make_shared<platform::FakeAlertRunner>();
    const auto previous = platform::setAlertRunner(runner);
    opener->accepts = false;
    Store s;
    HelpActions help(s.defaults);
    help.performAction("helpShowFAQ:", nullptr);
    help.performAction("helpShowManual:", nullptr);
    QGuiApplication::clipboard()->clear();
    runner->answer(platform::alertFirstButtonReturn); // the FAQ's
    runner->answer(platform::alertFirstButtonReturn); // the manual's
    runner->answerButton("Copy Message");
    help.performAction("contactSupport:", nullptr);
    openOrSayWhy(QUrl::fromLocalFile("/home/ann/Recovery"));
    platform::setAlertRunner(previous);
    ASSERT_EQ(runner->shown().size(), 4u);
    EXPECT_EQ(runner->shown()[3].messageText, "No file manager showed the folder.");
    EXPECT_TRUE(runner->shown()[3].informativeText.endsWith("\n/home/ann/Recovery"));
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("Subject: Cuewright Support\n\n")) << copied.toStdString();
    EXPECT_TRUE(copied.contains("OS: " + HelpActions::operatingSystemVersion())) << copied.toStdString();
    EXPECT_TRUE(runner->shown()[0].informativeText.contains(helpPageUrl(HelpPage::faq)->toString()));
    EXPECT_TRUE(runner->shown()[0].messageText.contains("browser"));
    EXPECT_TRUE(runner->shown()[1].informativeText.contains(helpPageUrl(HelpPage::manual)->toString()));
    EXPECT_TRUE(runner->shown()[2].messageText.contains("mail"));
    EXPECT_TRUE(runner->shown()[2].informativeText.contains(supportAddress()));
}

// The desktop's opener asks xdg-open (here a stand-in on PATH) and answers by its exit status:
// one that exits non-zero found no program, though it started; one still running after the time
// allowed has handed the URL on.
TEST(DesktopOpener, AnswersByWhatXdgOpenSays) {
    testsupport::TempDir dir;
    const std::string asked = (dir / "asked").string();
    const struct {
        const char* name;
        const char* then; // what the stand-in does after noting its argument
        bool taken;
    } cases[] = {
        {"a program took it", "exit 0", true},
        {"no program took it", "exit 3", false},
        {"killed", "kill -9 $$", false},
        {"still running", "exec /bin/sleep 5", true},
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(dir.path().string()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(asked);
        const fs::path xdgOpen = dir / "xdg-open";
        std::ofstream(xdgOpen, std::ios::trunc) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << asked << "'\n"
                                                << c.then << "\n";
        fs::permissions(xdgOpen, fs::perms::owner_all);
        std::optional<bool> answer;
        const bool stillRunning = std::string_view(c.then).starts_with("exec /bin/sleep");
        DesktopUrlOpener(stillRunning ? std::chrono::milliseconds(0) : std::chrono::milliseconds(600000))
            .open(QUrl("https://example.org/a page?x=1"), [&](bool taken) { answer = taken; });
        EXPECT_FALSE(answer) << "answered before the loop ran";
        ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 60000));
        EXPECT_EQ(*answer, c.taken);
        const auto argument = [&] {
            std::ifstream in(asked);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        // A stand-in still running may not have written it yet.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !argument().empty(); }, 60000));
        EXPECT_EQ(argument(), "https://example.org/a%20page?x=1");
    }
    qputenv("PATH", path);
    bool invalid = true;
    DesktopUrlOpener().open(QUrl(), [&](bool taken) { invalid = taken; });
    EXPECT_FALSE(invalid);
}

TEST_F(OpenerFixture, UpdaterSaysHowUpdatesComeAndNeverThatTheCopyIsUpToDate) {
    const auto runner = std::make_shared<platform::FakeAlertRunner>();
    const auto previous = platform::setAlertRunner(runner);
    runner->answer(platform::alertFirstButtonReturn + 1);
    Updater().checkForUpdates();
    platform::setAlertRunner(previous);
    ASSERT_EQ(runner->shown().size(), 1u);
    const platform::Alert& alert = runner->shown()[0];
    EXPECT_FALSE((alert.messageText + alert.informativeText).contains("up to date", Qt::CaseInsensitive));
    EXPECT_TRUE(alert.informativeText.contains("package"));
    ASSERT_EQ(opener->opened.size(), 1u);
    EXPECT_EQ(opener->opened[0], *helpPageUrl(HelpPage::website));
}

// --- the move offer --------------------------------------------------------------------------

MoveFacts factsFor(const QString& bundle) {
    MoveFacts f;
    f.bundlePath = bundle;
    f.home = {"/home/ann/Applications", true, true, true, false, false};
    f.system = {"/opt/Applications", true, false, false, false, false};
    f.downloadsFolders = {"/home/ann/Downloads"};
    return f;
}

TEST(MovePlan, EachCaseGetsItsFolderAndTexts) {
    const QString home = "Move to Applications folder in your Home folder?";
    const QString other = "Move to Applications folder?";
    const QString info = "I can move myself to the Applications folder if you'd like.";
    const QString admin = info + " Note that this will require an administrator password.";
    const QString downloads = info + " This will keep your Downloads folder uncluttered.";
    struct Case {
        const char* name;
        std::function<void(MoveFacts&)> change;
        MovePlan::Kind kind = MovePlan::Kind::nothingToDo;
        QString title{}, text{}, destination{};
        bool authorization = false;
    };
    const QString bundle = "/home/ann/Downloads/Cuewright.AppImage";
    const Case cases[] = {
        {"not an AppImage", [](MoveFacts& f) { f.bundlePath.reset(); }},
        {"suppressed", [](MoveFacts& f) { f.suppressed = true; }},
        {"in place", [](MoveFacts& f) { f.bundlePath = "/home/ann/Applications/C.AppImage"; }},
        {"any Applications folder", [](MoveFacts& f) { f.bundlePath = "/srv/Applications/x/C.AppImage"; }},
        {"home folder", [](MoveFacts&) {}, MovePlan::Kind::offer, home, downloads,
         "/home/ann/Applications/Cuewright.AppImage", false},
        {"home folder without AppImages", [](MoveFacts& f) { f.home.holdsAppImage = false; },
         MovePlan::Kind::offer, other, admin, "/opt/Applications/Cuewright.AppImage", true},
        {"locked destination", [](MoveFacts& f) { f.home.destinationExists = true; }, MovePlan::Kind::offer,
         home, admin, "/home/ann/Applications/Cuewright.AppImage", true},
        {"not from Downloads", [](MoveFacts& f) { f.bundlePath = "/tmp/Cuewright.AppImage"; },
         MovePlan::Kind::offer, home, info, "/home/ann/Applications/Cuewright.AppImage", false},
    };
    for (const Case& c : cases) {
        MoveFacts facts = factsFor(bundle);
        c.change(facts);
        const MovePlan plan = planMove(facts);
        EXPECT_EQ(plan.kind, c.kind) << c.name;
        EXPECT_EQ(plan.title, c.title) << c.name;
        EXPECT_EQ(plan.informativeText, c.text) << c.name;
        EXPECT_EQ(plan.destinationPath, c.destination) << c.name;
        EXPECT_EQ(plan.needsAuthorization, c.authorization) << c.name;
    }
}

TEST(MovePlan, ShellQuotingAndTheRelaunchScriptWorkUnderBinSh) {
    EXPECT_EQ(shellQuoted("a'b"), "'a'\\''b'");
    testsupport::TempDir dir;
    const QString marker = QString::fromStdString((dir / "started").string());
    const QString app = QString::fromStdString((dir / "it's here.AppImage").string());
    std::ofstream(app.toStdString()) << ("#!/bin/sh\ntouch " + shellQuoted(marker) + "\n").toStdString();
    QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); // as installed
    QProcess gone;
    gone.start("/bin/true");
    ASSERT_TRUE(gone.waitForFinished());
    const qint64 deadPid = gone.processId() ? gone.processId() : 999999;
    const int status = QProcess::execute("/bin/sh", {"-c", relaunchScript(deadPid, app)});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(QFile::exists(marker));
    EXPECT_TRUE(relaunchCommand(deadPid, app).endsWith(") &"));
    // After a system install the copy is root's: the relaunch only waits and starts it, and
    // tries nothing (a change of mode) that could not succeed.
    EXPECT_EQ(relaunchScript(7, "/opt/Applications/Cuewright.AppImage"),
              "while /bin/kill -0 7 >/dev/null 2>&1; do /bin/sleep 0.1; done; "
              "'/opt/Applications/Cuewright.AppImage'");
}

struct FakeMovePlatform : MovePlatform {
    std::map<QString, ApplicationsFolder> folders;
    std::optional<QString> appImage = "/home/ann/Downloads/Cuewright.AppImage";
    std::optional<QString> appDir = "/tmp/.mount_CuewrA1";
    QString executable = "/tmp/.mount_CuewrA1/usr/bin/cuewright";
    Answer answer{true, false};
    int pkexecStatus = 0;
    bool running = false;
    std::vector<QString> calls;
    std::vector<QString> logged;
    std::optional<int> exitStatus;

    std::optional<QString> environment(const char* name) const override {
        if (QByteArray(name) == "APPDIR")
            return appDir;
        return QByteArray(name) == "APPIMAGE" ? appImage : std::nullopt;
    }
    QString executablePath() const override { return executable; }
    QString resolvedPath(const QString& path) const override { return QDir::cleanPath(path); }
    QString homeFolder() const override { return "/home/ann"; }
    std::optional<Mount> mount =
        Mount{"/tmp/.mount_CuewrA1", "Cuewright.AppImage", "fuse.Cuewright.AppImage"};
    std::optional<Mount> mountHolding(const QString& path) const override {
        if (mount && path.startsWith(mount->point + u'/'))
            return mount;
        return Mount{"/", "/dev/sda1", "ext4"};
    }
    // The mount is made from the image in Downloads; every other path is another file.
    std::vector<FileId> mountImages{{8, 100}};
    std::optional<FileId> fileId(const QString& path) const override {
        if (path == "/home/ann/Downloads/Cuewright.AppImage")
            return FileId{8, 100};
        return FileId{8, 200 + qHash(path) % 1000};
    }
    std::vector<FileId> imagesOfMount(const Mount&) const override { return mountImages; }
    QStringList downloadsFolders() const override { return {"/home/ann/Downloads"}; }
    ApplicationsFolder describeFolder(const QString& folder, const QString&) const override {
        auto it = folders.find(folder);
        return it != folders.end() ? it->second : ApplicationsFolder{folder};
    }
    Answer askToMove(const MovePlan& plan) override {
        calls.push_back("ask " + plan.title);
        return answer;
    }
    void showFailure(const QString& title, const QString& reason) override {
        calls.push_back("failure " + title + (reason.isEmpty() ? QString() : " / " + reason));
    }
    int run(const QString& program, const QStringList& args) override {
        note("run " + program + " " + args.join(' '));
        return pkexecStatus;
    }
    int runPrivileged(const QString& script, const QString& input) override {
        note("privileged " + script + " < " + input);
        return pkexecStatus;
    }
    bool note(const QString& call) {
        calls.push_back(call);
        return true;
    }
    bool startDetached(const QString& program, const QStringList& args) override {
        return note("start " + program + " " + args.join(' '));
    }
    bool moveToTrash(const QString& path) override { return note("trash " + path); }
    bool remove(const QString& path, QString&) override { return note("remove " + path); }
    bool copyFails = false;
    std::optional<QString> copyBeside(const QString& from, const QString& to, QString& error) override {
        note("copy " + from + " beside " + to);
        if (copyFails) {
            error = "disk full";
            return std::nullopt;
        }
        return to + ".staged";
    }
    bool rename(const QString& from, const QString& to, QString&) override {
        return note("rename " + from + " " + to);
    }
    bool isRunning(const QString&) const override { return running; }
    qint64 processId() const override { return 4242; }
    void log(const QString& line) override { logged.push_back(line); }
    void exit(int status) override { exitStatus = status; }
};

struct MoverFixture : ::testing::Test {
    Store s;
    FakeMovePlatform fake;
    AppMover mover{fake, s.defaults};
    const QString dest = "/home/ann/Applications/Cuewright.AppImage";
    MoverFixture() {
        fake.folders["/home/ann/Applications"] = {"/home/ann/Applications", true, true, true, true, true};
    }
};

TEST_F(MoverFixture, AMoveReplacesTheOldCopyAndRelaunchesTheNewOne) {
    EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::moved);
    const std::vector<QString> expected{
        "ask Move to Applications folder in your Home folder?",
        "copy /home/ann/Downloads/Cuewright.AppImage beside " + dest,
        "trash " + dest,
        "rename " + dest + ".staged " + dest,
        "remove /home/ann/Downloads/Cuewright.AppImage",
        "start /bin/sh -c " + relaunchCommand(4242, dest),
    };
    EXPECT_EQ(fake.calls, expected);
    EXPECT_EQ(fake.exitStatus, 0);
    EXPECT_FALSE(AppMover::isMoveInProgress());
}

TEST_F(MoverFixture, ARunningDestinationIsStartedAndWeExit) {
    fake.running = true;
    EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::switchedToRunningCopy);
    EXPECT_EQ(fake.calls.back(), "start " + dest + " ");
    EXPECT_EQ(fake.logged.back(), "INFO -- Switching to an already running version");
    EXPECT_EQ(fake.exitStatus, 0);
}

TEST_F(MoverFixture, CancelledAuthorisationOnlyLogs) {
    fake.folders["/home/ann/Applications"].isWritable = false;
    fake.pkexecStatus = AppMover::authorizationDismissed;
    EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::cancelledAuthorization);
    ASSERT_EQ(fake.calls.size(), 2u);
    EXPECT_TRUE(fake.calls[1].startsWith("privileged "));
    EXPECT_TRUE(fake.calls[1].endsWith(" < /home/ann/Downloads/Cuewright.AppImage"));
    EXPECT_EQ(fake.logged.back(), "INFO -- Not moving because user canceled authorization");
    EXPECT_FALSE(fake.exitStatus);

    // A failure says why: no pkexec, no consent, a failed copy.
    for (const auto& [status, why] :
         {std::pair{AppMover::helperMissing, "pkexec"}, {127, "authentication agent"}, {1, "status 1"}}) {
        fake.calls.clear();
        fake.pkexecStatus = status;
        EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::failed);
        EXPECT_TRUE(fake.calls.back().startsWith("failure Could not move to Applications folder / "));
        EXPECT_TRUE(fake.calls.back().contains(why)) << fake.calls.back().toStdString();
    }
    SystemMovePlatform platform;
    platform.privilegedHelper = QStringLiteral("cuewright-no-such-helper");
    EXPECT_EQ(platform.runPrivileged(QStringLiteral("true"), QCoreApplication::applicationFilePath()),
              AppMover::helperMissing);
}

TEST_F(MoverFixture, DecliningWithTheBoxTickedSuppressesTheOffer) {
    fake.answer = {false, true};
    EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::declined);
    EXPECT_TRUE(s.defaults.boolForKey(AppMover::suppressKey));
    EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::nothingToDo);
    fake.appImage.reset();
    EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::nothingToDo);
    EXPECT_EQ(fake.calls.size(), 1u);

    // The real box, ticked, then gone without a button (the application quit under it): neither
    // a move nor a choice never to be asked again.
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box && box->checkBox());
        box->checkBox()->setChecked(true);
        box->done(0);
    });
    const MovePlatform::Answer answer = SystemMovePlatform().askToMove(MovePlan{});
    EXPECT_FALSE(answer.move);
    EXPECT_FALSE(answer.suppress) << "a quit chose Do not ask again";
}

// An AppImage environment inherited from another program is not ours, nor is a folder in $APPIMAGE
// (it names no image a mount could be named after): nothing is offered, let alone removed.
TEST_F(MoverFixture, AnAppImageEnvironmentThatIsNotOursOffersNothing) {
    const QString ours = "/home/ann/Downloads/Cuewright.AppImage";
    struct Case {
        const char* name;
        std::optional<QString> appDir;
        QString executable;
        QString appImage;
        bool locked = false; // the Home Applications folder not writable: the privileged path
    };
    const Case cases[] = {
        {"no APPDIR", std::nullopt, fake.executable, ours},
        {"another image's mount", "/tmp/.mount_TermB2", "/usr/bin/cuewright", ours},
        {"a mount whose name we begin with", "/tmp/.mount_Cuewr", fake.executable, ours},
        {"a blank APPDIR", " ", fake.executable, ours},
        {"a folder above our mount", "/tmp", fake.executable, ours},
        {"a folder inside our mount", "/tmp/.mount_CuewrA1/usr", fake.executable, ours},
        {"another image named", fake.appDir, fake.executable, "/home/ann/Downloads/Other.AppImage"},
        // Named like the image, but another file: the mount is not made from it.
        {"a file of that name elsewhere", fake.appDir, fake.executable,
         "/home/ann/Elsewhere/Cuewright.AppImage"},
        {"a file of that name elsewhere, locked", fake.appDir, fake.executable,
         "/home/ann/Elsewhere/Cuewright.AppImage", true},
        {"a folder in place of the AppImage", fake.appDir, fake.executable, "/home/ann/Downloads/"},
        {"a folder in place of the AppImage, locked", fake.appDir, fake.executable, "/home/ann/Downloads/",
         true},
    };
    for (const Case& c : cases) {
        fake.appDir = c.appDir;
        fake.executable = c.executable;
        fake.appImage = c.appImage;
        fake.folders["/home/ann/Applications"].isWritable = !c.locked;
        EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::nothingToDo) << c.name;
        EXPECT_TRUE(fake.calls.empty()) << c.name << ": nothing asked, moved or removed";
        EXPECT_FALSE(fake.exitStatus) << c.name;
    }
}

// What stands at the destination (a folder named like the AppImage, an older copy) is moved
// away only after the copy beside it is whole: a copy that fails leaves it as it was.
TEST_F(MoverFixture, ACopyThatFailsLeavesTheDestinationAsItWas) {
    fake.copyFails = true;
    EXPECT_EQ(mover.offerMoveToApplicationsFolder(), AppMover::Outcome::failed);
    const std::vector<QString> expected{"ask Move to Applications folder in your Home folder?",
                                        "copy /home/ann/Downloads/Cuewright.AppImage beside " + dest,
                                        "failure Could not move to Applications folder"};
    EXPECT_EQ(fake.calls, expected);
    EXPECT_EQ(fake.logged.back(), "ERROR -- Could not copy myself to " + dest);
    EXPECT_FALSE(fake.exitStatus);
}

// The mount table as the machine has it: the deepest mount above a path.
TEST(SystemMovePlatform, TheMountHoldingAPathIsTheDeepestAboveIt) {
    const SystemMovePlatform platform;
    const auto proc = platform.mountHolding("/proc/self/status");
    ASSERT_TRUE(proc);
    EXPECT_EQ(proc->point, "/proc");
    EXPECT_EQ(proc->type, "proc");
    const auto rootMount = platform.mountHolding("/");
    ASSERT_TRUE(rootMount);
    EXPECT_EQ(rootMount->point, "/");
    EXPECT_NE(platform.mountHolding("/procfs-like-name")->point, "/proc")
        << "a mount whose name we begin with";
}

// The image a mount is made from, as the machine tells: a source that names a file, or the files
// a child of ours holds open beside /dev/fuse (as the AppImage runtime's server does).
TEST(SystemMovePlatform, TheImageOfAMountIsKnownByDeviceAndInode) {
    testsupport::TempDir dir;
    const QString image = QString::fromStdString((dir / "Cuewright.AppImage").string());
    const QString other = QString::fromStdString((dir / "Other.AppImage").string());
    std::ofstream(image.toStdString()) << "image";
    std::ofstream(other.toStdString()) << "other";
    const SystemMovePlatform platform;
    const auto id = platform.fileId(image);
    ASSERT_TRUE(id);
    EXPECT_NE(platform.fileId(other), id);
    EXPECT_FALSE(platform.fileId(image + ".gone"));
    using Ids = std::vector<MovePlatform::FileId>;
    EXPECT_EQ(platform.imagesOfMount({"/tmp/.mount_X", image, "fuse.Cuewright.AppImage"}), Ids{*id});
    EXPECT_EQ(platform.imagesOfMount({"/tmp/.mount_X", "Cuewright.AppImage", "fuse.Cuewright.AppImage"}),
              Ids{});

    QProcess server; // holds /dev/fuse and the image, as a FUSE server of the image would
    server.start("/bin/sh", {"-c", "exec 3</dev/fuse 4<" + shellQuoted(image) + " && exec cat"});
    ASSERT_TRUE(server.waitForStarted());
    const QString fd4 = QStringLiteral("/proc/%1/fd/4").arg(server.processId());
    bool holding = false;
    for (int i = 0; i < 1200 && !holding && server.state() == QProcess::Running; ++i) {
        holding = QFileInfo(fd4).symLinkTarget() == image;
        server.waitForFinished(50);
    }
    if (!holding) {
        GTEST_SKIP() << "/dev/fuse cannot be opened here";
    }
    EXPECT_EQ(platform.imagesOfMount({"/tmp/.mount_X", "Cuewright.AppImage", "fuse.Cuewright.AppImage"}),
              Ids{*id});
    EXPECT_EQ(platform.imagesOfMount({"/tmp/.mount_X", other, "fuse.Cuewright.AppImage"}), Ids{*id})
        << "the server's own image, whatever the source says";
    server.closeWriteChannel();
    server.waitForFinished();
}

// The privileged install as it really runs: the script under /bin/sh as root, through a fake
// helper standing for pkexec that gives it a mount namespace of its own with a fresh /opt, so
// that it installs into the real path /opt/Applications without touching the machine's. The
// helper reports what stands there afterwards. The AppImage is handed over as standard input.
class FakePrivilegedHelper {
public:
    // `setup`: shell commands run in the namespace before the script (what stood there before).
    explicit FakePrivilegedHelper(const QString& setup = {}) {
        const QString inner = path_ + ".inner";
        std::ofstream(inner.toStdString())
            << ("mount -t tmpfs cuewright-test /opt || exit 90\n" + setup +
                "\n\"$@\"\nstatus=$?\ncd /opt/Applications 2>/dev/null || exit $status\n"
                "stat -c '%u %g %a %F' " +
                destinationName + " >" + shellQuoted(report_) + " 2>/dev/null\nls -A >>" +
                shellQuoted(report_) + "\ncat " + destinationName + "/keep >>" + shellQuoted(report_) +
                " 2>/dev/null\nexit $status\n")
                   .toStdString();
        std::ofstream(path_.toStdString())
            << ("#!/bin/sh\nexec unshare --mount --propagation private /bin/sh " + shellQuoted(inner) +
                " \"$@\"\n")
                   .toStdString();
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    static constexpr const char* destinationName = "Cuewright.AppImage";
    const QString& path() const { return path_; }
    // "uid gid mode type" of what the destination is, the folder's entries, then what a folder
    // in its place kept; empty when the helper never ran.
    QString report() const {
        QFile f(report_);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    testsupport::TempDir dir_;
    QString path_ = QString::fromStdString((dir_ / "fake-pkexec").string());
    QString report_ = QString::fromStdString((dir_ / "report").string());
};

TEST(PrivilegedInstall, OnlyARegularFileIsCopiedAndTheCopyIsRoots) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr || !QFileInfo(QStringLiteral("/opt")).isDir() ||
        QProcess::execute("unshare", {"--mount", "--propagation", "private", "/bin/true"}) != 0) {
        GTEST_SKIP() << "needs root and mount namespaces: the installed copy must be root's";
    }
    testsupport::TempDir dir;
    const QString root = QString::fromStdString(dir.path().string());
    const QString folder = QString::fromLatin1(AppMover::systemApplicationsFolder);
    const QString dest = folder + u'/' + FakePrivilegedHelper::destinationName;
    const QString script = privilegedInstallScript(folder, dest);
    const QString secret = root + "/secret";
    std::ofstream(secret.toStdString()) << "root's own";
    QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(root + "/Downloads");
    const QString download = root + "/Downloads/Cuewright.AppImage";
    QFile::link(secret, download);
    const QString mine = root + "/Downloads/Mine.AppImage";
    std::ofstream(mine.toStdString()) << "#!/bin/sh\necho cuewright\n";
    ASSERT_EQ(::chown(QFile::encodeName(mine).constData(), nobody->pw_uid, nobody->pw_gid), 0);

    struct Case {
        const char* name;
        QString input;
        QString setup;
        int status; // -1: refused before anything ran as root
        QString report;
    };
    const Case cases[] = {
        {"a link to a root-only file", download, {}, -1, {}},
        {"the user's own download", mine, {}, 0, "0 0 755 regular file\nCuewright.AppImage\n"},
        {"over an older copy", mine,
         "mkdir -p /opt/Applications && echo old >/opt/Applications/Cuewright.AppImage", 0,
         "0 0 755 regular file\nCuewright.AppImage\n"},
        {"a folder named like the AppImage in the way", mine,
         "mkdir -p /opt/Applications/Cuewright.AppImage && echo kept "
         ">/opt/Applications/Cuewright.AppImage/keep",
         1, "0 0 755 directory\nCuewright.AppImage\nkept\n"},
        {"a link in the way", mine,
         "mkdir -p /opt/Applications && ln -s /etc/passwd /opt/Applications/Cuewright.AppImage", 1,
         "0 0 777 symbolic link\nCuewright.AppImage\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePrivilegedHelper helper(c.setup);
        SystemMovePlatform platform;
        platform.privilegedHelper = helper.path();
        EXPECT_EQ(platform.runPrivileged(script, c.input), c.status);
        EXPECT_EQ(helper.report(), c.report);
    }

    // Run by other means with anything but a regular file as its input, the script copies nothing.
    FakePrivilegedHelper helper;
    QProcess direct;
    direct.setStandardInputFile("/dev/zero");
    direct.start(helper.path(), {"/bin/sh", "-c", script});
    ASSERT_TRUE(direct.waitForFinished());
    EXPECT_EQ(direct.exitCode(), 1);
    EXPECT_EQ(helper.report(), "");

    // Without authorisation the copy is made beside the destination, links refused.
    SystemMovePlatform platform;
    QString error;
    const QString home = root + "/Applications/Cuewright.AppImage";
    const auto staged = platform.copyBeside(mine, home, error);
    ASSERT_TRUE(staged) << error.toStdString();
    EXPECT_TRUE(QFileInfo(*staged).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(home)) << "the destination itself is left to the rename";
    EXPECT_FALSE(platform.copyBeside(download, home, error));
}

} // namespace
