// The remote-control window with a fake client: what it sends, when, and what it shows.
#include "settings/SettingsTestSupport.h"

#include "cuewright/model/TimeFormat.h"
#include "cuewright/remote/BonjourServer.h"
#include "cuewright/settings/RemoteControlWindowController.h"

#include "platform/netservice/FakeNetService.h"
#include "remote/RemoteTestSupport.h"
#include "support/LogCapture.h"
#include "support/PlainTextLabel.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace remotetest;
using C = cw::NetworkCommand::Command;
using K = cw::NetworkCommand::Kind;
using Sent = std::vector<std::pair<C, std::uint16_t>>;

class FakeClient : public cw::RemoteControlClient {
public:
    cw::BonjourClientDelegate* delegate = nullptr;
    std::vector<cw::ServerAddress> servers;
    Sent sent; // command and the port it went to
    bool failStart = false;
    int starts = 0, stops = 0;

    void setDelegate(cw::BonjourClientDelegate* d) override { delegate = d; }
    void start() override {
        ++starts;
        if (failStart) {
            throw cw::RemoteSocketError({"test", 48, "Address already in use", ""});
        }
    }
    void stop() override { ++stops; }
    std::vector<cw::ServerAddress> availableServers() const override { return servers; }
    void sendCommand(const C& command, const cw::ServerAddress& server) override {
        sent.emplace_back(command, server.port);
    }
    std::optional<std::string> unavailable;
    std::optional<std::string> discoveryUnavailableReason() const override { return unavailable; }
    std::vector<std::string> resolvedAgain; // names
    void resolveAgain(const cw::ServerAddress& server) override {
        resolvedAgain.push_back(server.humanReadableName);
    }
};

class RemoteControlWindowTest : public ::testing::Test {
protected:
    RemoteControlWindowTest() { controller.showWindow(); }

    void serversChange(std::vector<cw::ServerAddress> servers) {
        client->servers = std::move(servers);
        client->delegate->bonjourClientDidUpdateServers(*client);
    }
    // A reply as it comes from `from`.
    void reply(const cw::ServerAddress& from, const cw::NetworkStatusReport& report) {
        client->delegate->bonjourClientDidReceive(*client, report, from.address);
    }
    void fail(const cw::ServerAddress& from, const std::string& reason) {
        client->delegate->bonjourClientDidFail(*client, reason, from.address);
    }
    QString status() const { return controller.statusLabel()->text(); }
    QString time() const { return controller.timestampLabel()->text(); }
    // All or none of the controls that drive the server; nullopt when they disagree.
    std::optional<bool> controlsEnabled() const {
        const bool all = controller.playPauseButton()->isEnabled() &&
                         controller.rewindButton()->isEnabled() && controller.speedSlider()->isEnabled();
        const bool any = controller.playPauseButton()->isEnabled() ||
                         controller.rewindButton()->isEnabled() || controller.speedSlider()->isEnabled();
        return all == any ? std::optional(all) : std::nullopt;
    }

    std::shared_ptr<FakeClient> client = std::make_shared<FakeClient>();
    cw::RemoteControlWindowController controller{nullptr, client};
    static sockets::Address at(const char* host, std::uint16_t port) {
        const auto both = sockets::numericHostAddresses(host, port);
        return both.ipv4.empty() ? both.ipv6 : both.ipv4;
    }
    const cw::ServerAddress stage{"Stage", "stage.local", 19824, at("127.0.0.1", 19824)};
    // Its host has a second address.
    const cw::ServerAddress booth{
        "Booth", "booth.local", 19825, at("127.0.0.2", 19825), {at("127.0.0.7", 0)}};
};

TEST_F(RemoteControlWindowTest, NothingIsSentWithoutASelectedServer) {
    EXPECT_EQ(client->starts, 1);
    EXPECT_TRUE(controller.isPolling());
    EXPECT_EQ(controlsEnabled(), false);
    controller.requestStatus();
    controller.playPause();
    serversChange({stage, booth});
    controller.requestStatus();
    EXPECT_TRUE(client->sent.empty());
    ASSERT_EQ(controller.tableView()->rowCount(), 2);
    EXPECT_EQ(controller.tableView()->item(1, 0)->text(), "Booth");
    EXPECT_EQ(controller.tableView()->item(1, 1)->text(), "booth.local");
    EXPECT_EQ(controller.tableView()->item(1, 2)->text(), "19825");
    EXPECT_EQ(cw::RemoteControlWindowController::cellText("Color", stage), "Unknown column");
}

// Without the discovery daemon the window says that nothing can be found, and why, until it comes.
TEST_F(RemoteControlWindowTest, AnUnavailableDiscoveryIsSaid) {
    QLabel* line = controller.discoveryLabel();
    EXPECT_TRUE(line->isHidden());
    client->unavailable = "the Avahi daemon is not running";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !line->isHidden(); })) << "the next poll shows it";
    EXPECT_EQ(line->text(), "Network discovery is not available: the Avahi daemon is not running.");
    client->unavailable.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return line->isHidden(); }));

    // A socket that cannot be opened is said the same way, and logged; nothing polls.
    testsupport::LogCapture log;
    auto failing = std::make_shared<FakeClient>();
    failing->failStart = true;
    cw::RemoteControlWindowController other{nullptr, failing};
    other.showWindow();
    EXPECT_FALSE(other.isPolling());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"can't discover: Address already in use"});
    EXPECT_FALSE(other.discoveryLabel()->isHidden());
    EXPECT_TRUE(other.discoveryLabel()->text().contains("Address already in use"))
        << other.discoveryLabel()->text().toStdString();
}

TEST_F(RemoteControlWindowTest, StatusRepliesDriveTheTextsAndTheButtons) {
    serversChange({stage, booth});
    controller.tableView()->selectRow(1);
    EXPECT_EQ(status(), "Not Connected.");
    controller.requestStatus();
    auto report = sampleReport(); // "/a/b/Talk.cwr", playing, 40 %, a quarter of 120 s
    report.maxScrollSpeed = 80;
    reply(booth, report);
    EXPECT_EQ(status(), "Talk.cwr is playing");
    EXPECT_EQ(time().toStdString(), cw::formatTimestamp(30) + " / " + cw::formatTimestamp(120));
    EXPECT_EQ(controller.playPauseButton()->text(), "Pause");
    EXPECT_EQ(controlsEnabled(), true);
    EXPECT_EQ(controller.speedSlider()->minimum(), 3);
    EXPECT_EQ(controller.speedSlider()->maximum(), 80);
    EXPECT_EQ(controller.speedSlider()->value(), 40);

    controller.playPause();
    controller.rewind();
    controller.speedSlider()->setValue(55); // the user drags it
    controller.test();
    report.transportState = cw::TransportState::TransportStatus::stopped;
    reply(booth, report);
    EXPECT_EQ(status(), "Talk.cwr is stopped");
    controller.playPause();
    EXPECT_EQ(client->sent, (Sent{{C::of(K::reportStatus), 19825},
                                  {C::of(K::stopPlayback), 19825},
                                  {C::of(K::rewind), 19825},
                                  {C::setScrollSpeed(55), 19825},
                                  {C::of(K::stopPlayback), 19825},
                                  {C::of(K::startPlayback), 19825}}));

    // An error keeps the buttons off until the next status.
    fail(booth, "No document active.");
    EXPECT_EQ(status(), "No document active.");
    EXPECT_EQ(time().toStdString(), cw::formatTimestamp(0));
    EXPECT_EQ(controller.speedSlider()->value(), 31);
    EXPECT_EQ(controller.speedSlider()->maximum(), 100);
    EXPECT_EQ(controller.playPauseButton()->text(), "Play");
    EXPECT_EQ(controlsEnabled(), false);

    controller.window()->grab().save(settingstest::screenshotFolder("remote") + "/remote-control-window.png");
}

// Only the selected server's replies count: a late one from the server selected before, or
// replies from anyone else (another port of its host too), change nothing, however long they come.
// Its address written as IPv4-mapped IPv6 is its own.
TEST_F(RemoteControlWindowTest, OnlyTheSelectedServersRepliesCount) {
    serversChange({stage, booth});
    controller.tableView()->selectRow(0);
    reply(stage, sampleReport());
    ASSERT_EQ(status(), "Talk.cwr is playing");
    controller.tableView()->selectRow(1);
    auto mine = sampleReport();
    mine.filename = "/b/Mine.cwr";
    const cw::ServerAddress stranger{"Stranger", "", 19825, at("127.0.0.9", 19825)};
    const cw::ServerAddress otherPort{"Booth", "", 40000, at("127.0.0.2", 40000)};
    const cw::ServerAddress mapped{"Booth", "", 19825, at("::ffff:127.0.0.2", 19825)};
    const cw::ServerAddress secondAddress{"Booth", "", 19825, at("127.0.0.7", 19825)};
    const cw::ServerAddress secondAddressOtherPort{"Booth", "", 40000, at("127.0.0.7", 40000)};
    struct Row {
        const cw::ServerAddress* from;
        std::optional<std::string> error; // else a status
        QString status;
        bool enabled;
    };
    const std::vector<Row> rows = {
        {&stage, std::nullopt, "Not Connected.", false},
        {&booth, std::nullopt, "Mine.cwr is playing", true},
        {&stranger, "No document active.", "Mine.cwr is playing", true},
        {&stranger, "No document active.", "Mine.cwr is playing", true},
        {&otherPort, "No document active.", "Mine.cwr is playing", true},
        {&stage, "No document active.", "Mine.cwr is playing", true},
        {&secondAddressOtherPort, "No document active.", "Mine.cwr is playing", true},
        {&booth, "No document active.", "No document active.", false},
        {&mapped, std::nullopt, "Mine.cwr is playing", true},
        {&booth, "No document active.", "No document active.", false},
        {&secondAddress, std::nullopt, "Mine.cwr is playing", true},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        // What the window takes is what the client is told to read at all.
        const bool fromBooth =
            rows[i].from == &booth || rows[i].from == &mapped || rows[i].from == &secondAddress;
        EXPECT_EQ(controller.bonjourClientExpectsReplyFrom(*client, rows[i].from->address), fromBooth);
        if (rows[i].error) {
            fail(*rows[i].from, *rows[i].error);
        } else {
            reply(*rows[i].from, rows[i].from == &stage ? sampleReport() : mine);
        }
        EXPECT_EQ(status(), rows[i].status);
        EXPECT_EQ(controlsEnabled(), rows[i].enabled);
    }
}

// Names from the network read in the order they were sent, whatever they hold: controls show as
// their pictures and bidirectional formatting as its code point, so "rtl" U+202E "fdp.exe" never
// lists as "rtlexe.pdf". In the table (name and address) and in the status (the script's name).
// A name of any length leaves the window as wide as it was: the status is cut short in the middle,
// keeping whether it plays.
TEST_F(RemoteControlWindowTest, NetworkNamesShowTheirControlsAndDirectionMarksVisibly) {
    QWidget* window = controller.window();
    const int width = window->width();
    struct Row {
        QString sent, shown;
    };
    const std::vector<Row> rows = {
        {QStringLiteral(u"rtl\u202Efdp.exe"), QStringLiteral("rtl[U+202E]fdp.exe")},
        {QStringLiteral(u"a\u2067b\u2069c\u200F\u061C\u202A\u2066"),
         QStringLiteral("a[U+2067]b[U+2069]c[U+200F][U+061C][U+202A][U+2066]")},
        {QStringLiteral(u"tab\there\nnew\x1b[31m\x7f"),
         QStringLiteral(u"tab\u2409here\u240Anew\u241B[31m\u2421")},
        {QStringLiteral(u"next\u0085line\u2028para\u2029"),
         QStringLiteral("next[U+0085]line[U+2028]para[U+2029]")},
        {QStringLiteral(u"Studio \u00DCber \u05D0\u05D1 \u2603"),
         QStringLiteral(u"Studio \u00DCber \u05D0\u05D1 \u2603")},
        {QString(300, u'n') + " Final", QString(300, u'n') + " Final"},
    };
    for (const Row& row : rows) {
        const std::string sent = row.sent.toStdString();
        serversChange({{sent, sent + ".local", 19824, stage.address}});
        EXPECT_EQ(controller.tableView()->item(0, 0)->text(), row.shown);
        EXPECT_EQ(controller.tableView()->item(0, 1)->text(), row.shown + ".local");
        controller.tableView()->selectRow(0);
        auto report = sampleReport();
        report.filename = "/a/" + sent + ".cwr";
        reply(stage, report);
        EXPECT_EQ(status(), row.shown + ".cwr is playing");
        QCoreApplication::sendPostedEvents(); // the layout asks for its size
        EXPECT_EQ(window->width(), width);
        EXPECT_LT(window->minimumSizeHint().width(), width);
    }
    window->grab().save(settingstest::screenshotFolder("remote") + "/remote-control-long-name.png");
    serversChange({{rows[0].sent.toStdString(), "stage.local", 19824, stage.address}, booth});
    controller.tableView()->selectRow(0);
    auto report = sampleReport();
    report.filename = "/a/" + rows[0].sent.toStdString() + ".cwr";
    reply(stage, report);
    controller.window()->grab().save(settingstest::screenshotFolder("remote") + "/remote-control-names.png");
}

TEST_F(RemoteControlWindowTest, TheSelectionFollowsItsServerAndEndsWhenItGoes) {
    serversChange({stage, booth});
    controller.tableView()->selectRow(1);
    serversChange({{"Early", "early.local", 1, {}}, booth, stage});
    controller.requestStatus();
    serversChange({stage});
    EXPECT_TRUE(controller.tableView()->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(status(), "Not Connected.");
    controller.requestStatus();
    EXPECT_EQ(client->sent, (Sent{{C::of(K::reportStatus), 19825}}));
}

// The keyboard: Tab from the list goes to the controls in the order they stand and leaves the
// selected server selected; the arrow keys change rows.
TEST_F(RemoteControlWindowTest, TabLeavesTheListAndTheArrowsChangeRows) {
    serversChange({stage, booth, {"Third", "third.local", 19826, {}}});
    QWidget* window = controller.window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTableWidget* table = controller.tableView();
    table->setFocus();
    table->selectRow(0);
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(table->selectionModel()->selectedRows().value(0).row(), 1);
    reply(booth, sampleReport()); // the buttons take the focus
    std::vector<QWidget*> reached;
    for (int tab = 0; tab < 3; ++tab) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(reached, (std::vector<QWidget*>{controller.rewindButton(), controller.playPauseButton(),
                                              controller.speedSlider()}));
    EXPECT_EQ(table->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table->selectionModel()->selectedRows().value(0).row(), 1);
    EXPECT_FALSE(table->hasFocus());
}

// A server that stops answering: after two polls without a reply the window says so, turns its
// buttons off, sends no command (the server would carry it out whenever it woke) and has its
// address looked up again; its next status brings everything back.
TEST_F(RemoteControlWindowTest, AServerThatStopsAnsweringIsSaidAndGetsNoCommands) {
    serversChange({stage, booth});
    controller.tableView()->selectRow(0);
    controller.requestStatus();
    reply(stage, sampleReport());
    ASSERT_EQ(controlsEnabled(), true);
    client->sent.clear();

    controller.requestStatus();
    controller.requestStatus();
    EXPECT_EQ(status(), "Talk.cwr is playing") << "two polls are not yet late";
    EXPECT_TRUE(client->resolvedAgain.empty());
    controller.requestStatus();
    EXPECT_EQ(status(), "“Stage” does not respond.");
    EXPECT_EQ(controlsEnabled(), false);
    EXPECT_EQ(client->resolvedAgain, std::vector<std::string>{"Stage"});
    controller.window()->grab().save(settingstest::screenshotFolder("remote") +
                                     "/remote-control-not-responding.png");
    controller.playPause();
    controller.rewind();
    controller.speedSlider()->setValue(60);
    EXPECT_EQ(client->sent, (Sent(3, {C::of(K::reportStatus), 19824})));

    // Found again at another address: the row stays selected, the polls go there.
    const cw::ServerAddress moved{"Stage", "stage.local", 20000, at("127.0.0.1", 20000)};
    serversChange({moved, booth});
    controller.requestStatus();
    EXPECT_EQ(client->sent.back(), (std::pair<C, std::uint16_t>{C::of(K::reportStatus), 20000}));
    reply(stage, sampleReport());
    EXPECT_EQ(status(), "“Stage” does not respond.") << "from where it was";
    reply(moved, sampleReport());
    EXPECT_EQ(status(), "Talk.cwr is playing");
    EXPECT_EQ(controlsEnabled(), true);
    controller.playPause();
    EXPECT_EQ(client->sent.back(), (std::pair<C, std::uint16_t>{C::of(K::stopPlayback), 20000}));
}

TEST_F(RemoteControlWindowTest, ClosingStopsThePollAndTheClient) {
    EXPECT_TRUE(controller.close());
    EXPECT_FALSE(controller.isPolling());
    EXPECT_EQ(client->stops, 1);
}

// A host on the network names its script and its failures in markup: the window shows the text as
// it came, loads nothing and draws no headline.
TEST(RemoteControlWindowMarkup, TextsFromTheServerShowAsTyped) {
    // No "/" in it: the window shows the last part of the server's path.
    const std::string markup = "<h1 style='color:red'>Big<h1><img src='debian-logo.png'>";
    auto net = std::make_shared<platform::FakeNetService>();
    auto server = cw::BonjourServer::make(net);
    auto answers = std::make_shared<AnswerDelegate>();
    bool failNext = false;
    answers->answer = [&](const cw::NetworkCommand&) {
        auto report = sampleReport();
        report.filename = "/a/" + markup + ".cwr";
        return failNext
                   ? cw::NetworkAnswer::error("<b>Refused</b><img src='/usr/share/pixmaps/debian-logo.png'>")
                   : cw::NetworkAnswer::ok(report);
    };
    server->setDelegate(answers);
    server->start("Stage", 0);
    const platform::NetServiceInstance stage{"Stage", "_cuewright._udp", "local", 1, 0};
    net->setResolution("Stage", {stage, "127.0.0.1", {}, server->port()});

    cw::RemoteControlWindowController controller(nullptr, cw::BonjourClient::make(net));
    controller.showWindow();
    net->announce({stage});
    ASSERT_TRUE(dispatch::runMainUntil([&] { return controller.tableView()->rowCount() == 1; }, 5s));
    controller.tableView()->selectRow(0);
    QLabel& label = *controller.statusLabel();
    const QString named = QString::fromStdString(markup + ".cwr is playing");
    controller.requestStatus();
    ASSERT_TRUE(dispatch::runMainUntil([&] { return label.text() == named; }, 5s));
    EXPECT_TRUE(testsupport::showsPlainText(label));
    EXPECT_TRUE(testsupport::showsPlainText(*controller.timestampLabel()));

    failNext = true;
    controller.requestStatus();
    const QString refused = QStringLiteral("<b>Refused</b><img src='/usr/share/pixmaps/debian-logo.png'>");
    ASSERT_TRUE(dispatch::runMainUntil([&] { return label.text() == refused; }, 5s));
    EXPECT_TRUE(testsupport::showsPlainText(label));
    controller.close();
    server->stop();
}

} // namespace
