// The real cuewright binary handed hostile files: scripts whose tables are endless or huge views
// are refused at once as damaged, memory staying small, and one slow to read is read off the main
// thread, the remote answering throughout; a junk or missing document is refused, opening nothing.
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include "sql/Connection.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class HostileFilesEndToEnd : public AppTest {
protected:
    // A saved script whose "texts" table is replaced by the view `view`.
    fs::path makeHostile(const std::string& name, const std::string& view) {
        const fs::path script = makeScript(name, QStringLiteral("Harmless so far."));
        auto db = sql::Connection::open(script.string());
        db->execute("DROP TABLE texts; " + view);
        return script;
    }
    // Hands `script` to the running copy through a later start.
    bool handOver(const fs::path& script) {
        QProcess& later = start({pathArg(script)});
        return later.waitForFinished(60000) && later.exitCode() == 0;
    }
};

TEST_F(HostileFilesEndToEnd, ScriptsWhoseTablesAreViewsAreRefusedWhileTheRemoteAnswers) {
    enableRemote();
    setDefault(cw::settings::startupMode, "DoNothing");
    const fs::path normal = makeScript("normal.cwr", QStringLiteral("An ordinary script."));
    const fs::path endless =
        makeHostile("view-loop.cwr",
                    "CREATE VIEW texts AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                    "SELECT 'x' AS contents, CAST(max(i) AS BLOB) AS binary_contents FROM n");
    const fs::path big =
        makeHostile("big-blob.cwr",
                    "CREATE VIEW texts AS SELECT '' AS contents, randomblob(900000000) AS binary_contents");
    QProcess& app = start({pathArg(normal)}, {}, QStringLiteral(CW_APP_BINARY), {}, QProcess::MergedChannels);
    ASSERT_TRUE(waitForWindow(app, "normal.cwr")) << "no editor window";
    const std::optional<std::uint16_t> port = waitForRemote(app);
    ASSERT_TRUE(port) << "the remote control never answered";

    // Plain tables, but bookmarks that take longer to sort and to take in than a script may take
    // to read, in any build: each one lies in the text, so none is passed over unread.
    const fs::path slow = makeScript("slow-sort.cwr", QStringLiteral("Harmless so far."));
    sql::Connection::open(slow.string())
        ->execute(
            "DROP TABLE bookmarks; CREATE TABLE bookmarks (id INTEGER, type INTEGER, location INTEGER); "
            "INSERT INTO bookmarks WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
            "WHERE i < 4000000) SELECT random(), 0, i % 16 FROM n");

    QByteArray output;
    for (const fs::path& script : {endless, big, slow}) {
        SCOPED_TRACE(script.filename().string());
        ASSERT_TRUE(handOver(script)) << "the later start went on on its own";
        if (script == slow) {
            // Read off the main thread: the remote answers before the refusal comes.
            EXPECT_FALSE(remoteStatusReply(*port).empty()) << "the remote control waited for the read";
            EXPECT_FALSE(findWindow(display, root, [](const std::string& name) {
                return name == "Cuewright";
            })) << "refused before the answer: the read held the main thread";
        }
        const std::optional<Window> alert = waitForAlert(app);
        ASSERT_TRUE(alert) << "no alert: the script is still being read";
        EXPECT_FALSE(remoteStatusReply(*port).empty()) << "the remote control stopped answering";
        EXPECT_TRUE(waitFor(app, [&] {
            output += app.readAll();
            return output.contains(QByteArray::fromStdString(
                script.filename().string() + (script == slow ? ": interrupted" : ": its tables are")));
        })) << "not refused as damaged";
        EXPECT_LT(peakResidentBytes(app.processId()), std::uint64_t{300} << 20);
        screenshot(("hostile-" + script.stem().string() + ".png").c_str());
        ASSERT_TRUE(dismiss(app, *alert));
    }
    for (const fs::path& script : {endless, big, slow}) {
        EXPECT_FALSE(findWindow(display, root, script.filename().string()));
    }
    EXPECT_EQ(app.state(), QProcess::Running);
}

// A junk DOCX and a missing RTF named on the command line: each is refused with an alert that
// names it and why, no editor window opens, and neither becomes a recent document.
TEST_F(HostileFilesEndToEnd, DocumentsThatCannotBeReadAreRefusedWithAnAlert) {
    setDefault(cw::settings::startupMode, "DoNothing");
    const fs::path junk = work / "junk.docx";
    std::ofstream(junk, std::ios::binary) << "PK\x03\x04 this is not a Word document";
    const fs::path missing = work / "missing.rtf";
    QProcess& app = start({pathArg(junk), pathArg(missing)}, {}, QStringLiteral(CW_APP_BINARY), {},
                          QProcess::MergedChannels);
    QByteArray output;
    for (const fs::path& file : {junk, missing}) {
        SCOPED_TRACE(file.filename().string());
        // Told once the start is through: the alert is the one of the two windows named as the
        // application that is a dialog (transient), the other the start window.
        std::optional<Window> alert;
        ASSERT_TRUE(waitFor(app, [&] {
            const std::vector<Window> named =
                findWindows(display, root, [](const std::string& n) { return n == "Cuewright"; });
            const auto dialog = std::find_if(named.begin(), named.end(), [&](Window w) {
                Window over = 0;
                return XGetTransientForHint(display, w, &over) != 0;
            });
            return named.size() == 2 && dialog != named.end() && (alert = *dialog);
        })) << "no alert";
        EXPECT_TRUE(waitFor(app, [&] {
            output += app.readAll();
            return output.contains(QByteArray::fromStdString("cannot open ")) &&
                   output.contains(QByteArray::fromStdString(file.filename().string() + ": "));
        })) << "not refused";
        EXPECT_FALSE(findWindow(display, root, "Untitled")) << "opened as a script";
        if (file == junk) {
            app.waitForFinished(500); // let it paint: the picture is for people, not for the test
            screenshot("hostile-junk-document-alert.png");
        }
        ASSERT_TRUE(dismiss(app, *alert));
    }
    EXPECT_TRUE(waitForAlert(app)) << "no start window"; // nothing open: the start window stands in
    EXPECT_FALSE(findWindow(display, root, "Untitled"));
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(30000));
    const std::string stored = fileBytes(work / "defaults.json");
    for (const fs::path& file : {junk, missing}) {
        EXPECT_EQ(stored.find(file.filename().string()), std::string::npos) << stored;
    }
}

// Versions kept behind a link: "current.cwr -> versions/talk-v3" opens from the command line as
// current.cwr, and Ctrl+S writes through the link into talk-v3, the link staying. A link to a
// device handed over later ("zero.rtf -> /dev/zero") is refused by its own name as no file.
TEST_F(HostileFilesEndToEnd, AScriptBehindALinkOpensAndSavesByTheLinkAndADeviceIsNoFile) {
    fs::create_directory(work / "versions");
    const fs::path target = makeScript("versions/talk-v3", QStringLiteral("Version three."));
    const fs::path link = work / "current.cwr";
    fs::create_symlink("versions/talk-v3", link);
    fs::create_symlink("/dev/zero", work / "zero.rtf");
    QProcess& app = start({pathArg(link)}, {}, QStringLiteral(CW_APP_BINARY), {}, QProcess::MergedChannels);
    const std::optional<Window> editor = waitForNamed(app, "current.cwr");
    ASSERT_TRUE(editor) << "no editor window named after the link";
    ASSERT_TRUE(activate(*editor) && xdotool({"type", "--delay", "30", "kiwi"}));
    ASSERT_TRUE(waitForNamed(app, "current.cwr*")) << "the keys did not reach the script";
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(app, [&] { return scriptText(target).contains(QStringLiteral("kiwi")); }))
        << "the save did not reach the file behind the link";
    EXPECT_TRUE(fs::is_symlink(link)) << "the save replaced the link";

    QByteArray output;
    ASSERT_TRUE(handOver(work / "zero.rtf"));
    const std::optional<Window> alert = waitForAlert(app);
    ASSERT_TRUE(alert) << "the device was not refused";
    EXPECT_TRUE(waitFor(app, [&] {
        output += app.readAll();
        return output.contains(
            QByteArray::fromStdString("cannot open " + (work / "zero.rtf").string() + ": it is not a file"));
    })) << output.toStdString();
    app.waitForFinished(500); // let it paint: the picture is for people, not for the test
    screenshot("hostile-link-to-a-device-alert.png");
    ASSERT_TRUE(dismiss(app, *alert));
    EXPECT_TRUE(quit(app, *editor));
}

} // namespace

CW_END_TO_END_MAIN()
