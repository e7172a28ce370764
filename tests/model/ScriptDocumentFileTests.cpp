// The "cwr" script file: what a save writes, what an opening reads back, how each fault is
// reported, and that a failed save never touches the destination.
#include "base/Log.h"
#include "cuewright/model/ArchivedText.h"
#include "cuewright/model/Database.h"
#include "cuewright/model/DatabaseError.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptExporter.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/RtfReader.h"
#include "sql/Connection.h"

#include "ModelTestFiles.h"
#include "support/ShortOfDescriptors.h"
#include "support/TempDir.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <tuple>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cw;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using modeltest::fileBytes;
using modeltest::writeBytes;
using platform::AttributedString;
using platform::Color;
using platform::EmbeddedBookmark;
using platform::EmbeddedBookmarkPtr;

namespace {

std::vector<std::uint8_t> imageBytes(const char* format) {
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

EmbeddedBookmarkPtr bookmarkAt(const AttributedString& text, int location) {
    return text.attributes(location).bookmark;
}

std::vector<std::pair<int, EmbeddedBookmarkPtr>> embeddedBookmarks(const AttributedString& text) {
    std::vector<std::pair<int, EmbeddedBookmarkPtr>> found;
    for (const auto& run : text.runs()) {
        if (run.attributes.bookmark) {
            found.emplace_back(run.range.location, run.attributes.bookmark);
        }
    }
    return found;
}

class ScriptFile : public ::testing::Test {
protected:
    ScriptFile()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}}) {
        defaults.set(settings::defaultScrollSpeed, 42.0);
        defaults.set(settings::defaultMinScrollSpeedLPS, 0.25);
        defaults.set(settings::defaultMaxScrollSpeedLPS, 5.5);
        platform::setArchivedColor(defaults, settings::defaultBackgroundColor,
                                   platform::ArchivedColor::sRGB(0.2, 0.3, 0.4));
    }

    // A script that sets every property away from its fallback.
    static Document sampleDocument() {
        Document d;
        auto& p = d.scriptProperties;
        p.backgroundColor = Color(0.5, 0.25, 0.75, 0.9);
        p.backgroundImage = imageBytes("PNG");
        p.showBackgroundImage = true;
        p.backgroundImageOpacity = 0.3f;
        p.flipHorizontal = true;
        p.flipVertical = true;
        p.prompterMargin = 0.1f;
        p.prompterMarginAlignment = 0.7f;
        p.prompterWordCountFactor = 0.33f;
        p.indicatorType = IndicatorType::dot;
        p.indicatorPosition = 0.4f;
        p.indicatorSize = IndicatorSize::large;
        p.indicatorColor = IndicatorColor::purple;
        p.showReadingLine = true;
        p.overlayType = OverlayType::blackOut3Lines;
        p.overlayOpacity = 0.6f;
        p.textAlignment = TextAlignment::right;
        d.speedProperties = {55.0, 0.5, 4.0};

        platform::Attributes look;
        look.font = platform::Font{"DejaVu Sans", 34, true, false};
        look.foregroundColor = Color::yellow();
        d.text = AttributedString(QString::fromUtf8("Good evening.\n*Chapter two\nThe news, é and ü."), look);
        auto note = std::make_shared<EmbeddedBookmark>();
        note->id = "A1";
        note->userBlurb = "Look up here";
        note->sortOrder = 3;
        d.text.addAttribute(platform::CuewrightBookmarkAttributeName, QVariant::fromValue(note), {27, 1});
        return d;
    }

    static std::vector<Bookmark> sampleBookmarks() {
        return {Bookmark{"custom.bookmark@2:{14, 13}", 14, 2, 1.5, "*Chapter two", "", -1},
                Bookmark{"A1", 27, 3, 3.0, "The news, é and ü.", "Look up here", 3}};
    }

    Document reopen() { return ScriptDocumentFile::open(path, defaults); }

    std::optional<sql::Binding> scalar(const std::string& query) {
        return sql::Connection::open(path.string(), sql::Connection::Access::readOnly)->scalar(query);
    }

    // Makes a file with the schema and lets the test fill it by hand.
    std::shared_ptr<sql::Connection> handMadeFile(std::string_view schema = scriptFileSchema()) {
        auto c = sql::Connection::open(path.string());
        c->execute(schema);
        return c;
    }
    // The schema, version 1 and `rtf` as the text.
    std::shared_ptr<sql::Connection> versionOneFile(const std::string& rtf = "{\\rtf1 Hi}") {
        auto c = handMadeFile();
        c->run("INSERT INTO metainfo (version) VALUES (1)");
        c->run("INSERT INTO texts (binary_contents) VALUES (CAST('" + rtf + "' AS BLOB))");
        return c;
    }
    void change(const std::string& statement) { sql::Connection::open(path.string())->run(statement); }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    fs::path path = dir / "script.cwr";
};

} // namespace

// ---- round trip

// Embedded bookmarks keep their note and order and get a new id; the "*" line is written as a
// line bookmark and not embedded when read.
TEST_F(ScriptFile, PropertiesSpeedTextAndEmbeddedBookmarksComeBackAsSaved) {
    const Document saved = sampleDocument();
    ScriptDocumentFile::save(path, saved, sampleBookmarks());

    const Document read = reopen();
    EXPECT_EQ(read.scriptProperties, saved.scriptProperties);
    EXPECT_EQ(read.speedProperties, saved.speedProperties);
    EXPECT_EQ(read.text.string(), saved.text.string());
    const platform::Attributes look = read.text.attributes(0);
    ASSERT_TRUE(look.font && look.foregroundColor);
    EXPECT_EQ(look.font->pointSize, 34);
    EXPECT_TRUE(look.font->bold);
    EXPECT_EQ(*look.foregroundColor, Color::yellow());

    const auto found = embeddedBookmarks(read.text);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].first, 27);
    const EmbeddedBookmark& b = *found[0].second;
    EXPECT_EQ(b.userBlurb, "Look up here");
    EXPECT_EQ(b.sortOrder, 3);
    EXPECT_EQ(b.location, 27);
    EXPECT_EQ(b.id.size(), 36);
    EXPECT_NE(b.id, "A1");
}

TEST_F(ScriptFile, BookmarkRowsFollowTheListWithOneSpeedAndTheirKind) {
    std::vector<Bookmark> list = sampleBookmarks();
    list.push_back(Bookmark{"My-CUSTOM-mark", 0, 1, 0.0, "Good evening.", "first", 7});
    ScriptDocumentFile::save(path, sampleDocument(), list);

    auto c = sql::Connection::open(path.string(), sql::Connection::Access::readOnly);
    auto rows = c->prepareRowIterator("SELECT id, location, length, blurb, timestamp, type, scrollSpeed, "
                                      "sortOrder, user_blurb FROM bookmarks "
                                      "ORDER BY id");
    std::vector<std::vector<std::optional<sql::Binding>>> got;
    for (const sql::Row& row : rows) {
        got.push_back(row.values);
    }
    ASSERT_EQ(got.size(), 3u);
    const double lps = 0.5 + 55.0 / 100 * (4.0 - 0.5);
    using B = std::optional<sql::Binding>;
    auto i = [](std::int64_t v) { return B(v); };
    auto d = [](double v) { return B(v); };
    auto s = [](std::string v) { return B(std::move(v)); };
    EXPECT_EQ(got[0],
              (std::vector<B>{i(1), i(14), i(1), s("*Chapter two"), d(1.5), i(1), d(lps), i(-1), s("")}));
    EXPECT_EQ(got[1], (std::vector<B>{i(2), i(27), i(1), s("The news, é and ü."), d(3.0), i(0), d(lps), i(3),
                                      s("Look up here")}));
    EXPECT_EQ(got[2],
              (std::vector<B>{i(3), i(0), i(1), s("Good evening."), d(0.0), i(1), d(lps), i(7), s("first")}));
}

TEST_F(ScriptFile, AScriptWithoutBookmarksLeavesTheTableEmpty) {
    ScriptDocumentFile::save(path, sampleDocument(), {});
    EXPECT_EQ(scalar("SELECT count(*) FROM bookmarks"), sql::Binding(std::int64_t{0}));
    EXPECT_TRUE(embeddedBookmarks(reopen().text).empty());
}

TEST_F(ScriptFile, TheFileHoldsVersionTimePlainTextAndRtf) {
    // The fraction of the second is dropped, not rounded, before 1970 too.
    for (const auto& [now, stored] : {std::pair{1'700'000'000'900ms, std::int64_t{1'700'000'000}},
                                      std::pair{-1500ms, std::int64_t{-1}}}) {
        ScriptDocumentFile::SaveOptions options;
        options.now = std::chrono::system_clock::time_point(now);
        ScriptDocumentFile::save(path, sampleDocument(), {}, options);
        EXPECT_EQ(scalar("SELECT last_update FROM metainfo"), sql::Binding(stored));
    }
    EXPECT_EQ(scalar("SELECT version FROM metainfo"), sql::Binding(std::int64_t{1}));
    EXPECT_EQ(scalar("SELECT contents FROM texts"),
              sql::Binding(std::string("Good evening.\n*Chapter two\nThe news, é and ü.")));
    EXPECT_EQ(scalar("SELECT substr(CAST(binary_contents AS TEXT), 1, 5) FROM texts"),
              sql::Binding(std::string("{\\rtf")));
}

// ---- stored values

TEST_F(ScriptFile, FloatsAreWidenedExactlyAndStoredAsReal) {
    ScriptDocumentFile::save(path, sampleDocument(), {});
    EXPECT_EQ(scalar("SELECT prompter_margin FROM properties"), sql::Binding(0.10000000149011612));
    EXPECT_EQ(reopen().scriptProperties.prompterMargin, 0.1f);
    for (const char* name : {"background_image_opacity", "playback_speed", "min_speed", "max_speed",
                             "prompter_margin", "prompter_margin_alignment", "prompter_word_count_factor",
                             "indicator_position", "overlay_opacity"}) {
        EXPECT_EQ(scalar(std::string("SELECT typeof(") + name + ") FROM properties"),
                  sql::Binding(std::string("real")))
            << name;
    }
    // Whole-valued doubles too: a REAL column keeps them REAL.
    Document whole = sampleDocument();
    whole.speedProperties = {50.0, 1.0, 3.0};
    ScriptDocumentFile::save(path, whole, sampleBookmarks());
    EXPECT_EQ(reopen().speedProperties, whole.speedProperties);
    EXPECT_EQ(scalar("SELECT typeof(timestamp) FROM bookmarks WHERE id = 2"),
              sql::Binding(std::string("real")));
}

TEST_F(ScriptFile, ColoursUseTheArchivedEncodingAndImagesArePng) {
    Document d = sampleDocument();
    d.scriptProperties.backgroundImage = imageBytes("BMP");
    ScriptDocumentFile::save(path, d, {});

    auto c = sql::Connection::open(path.string(), sql::Connection::Access::readOnly);
    auto row = c->pluck(sql::Table("properties"));
    ASSERT_TRUE(row);
    auto color = row->get(sql::column<std::optional<sql::Data>>("background_color"));
    ASSERT_TRUE(color);
    auto archived = platform::decodeColor(*color);
    ASSERT_TRUE(archived);
    EXPECT_EQ(colorFromArchived(*archived), d.scriptProperties.backgroundColor);

    auto image = row->get(sql::column<std::optional<sql::Data>>("background_image"));
    ASSERT_TRUE(image && image->size() > 8);
    EXPECT_EQ(std::string(image->begin() + 1, image->begin() + 4), "PNG");
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(
        QByteArrayView(reinterpret_cast<const char*>(image->data()), qsizetype(image->size()))));
    EXPECT_EQ(decoded.size(), QSize(4, 3));
}

TEST_F(ScriptFile, UnreadablePicturesAreNoPicture) {
    Document d = sampleDocument();
    d.scriptProperties.backgroundImage = std::vector<std::uint8_t>{1, 2, 3, 4};
    ScriptDocumentFile::save(path, d, {});
    EXPECT_FALSE(scalar("SELECT background_image FROM properties"));
    EXPECT_FALSE(reopen().scriptProperties.backgroundImage);

    // A PNG signature in front of garbage is still no picture.
    change("UPDATE properties SET background_image = x'89504e470d0a1a0a0000'");
    EXPECT_FALSE(reopen().scriptProperties.backgroundImage);
}

// ---- fallbacks

TEST_F(ScriptFile, ARowOfNullsGivesTheFixedFallbacks) {
    versionOneFile()->run("INSERT INTO properties (background_color) VALUES (NULL)");

    const Document d = reopen();
    const auto& p = d.scriptProperties;
    EXPECT_EQ(p.prompterMargin, 0.1f);
    EXPECT_EQ(p.prompterMarginAlignment, 0.0f);
    EXPECT_EQ(p.prompterWordCountFactor, 0.5f);
    EXPECT_EQ(p.indicatorPosition, 0.5f);
    EXPECT_EQ(p.backgroundImageOpacity, 1.0f);
    EXPECT_EQ(p.overlayOpacity, 1.0f);
    EXPECT_FALSE(p.showBackgroundImage || p.flipHorizontal || p.flipVertical || p.showReadingLine);
    EXPECT_EQ(p.indicatorType, IndicatorType::none);
    EXPECT_EQ(p.indicatorSize, IndicatorSize::medium);
    EXPECT_EQ(p.indicatorColor, IndicatorColor::red);
    EXPECT_EQ(p.overlayType, OverlayType::none);
    EXPECT_EQ(p.textAlignment, TextAlignment::center);
    EXPECT_EQ(p.backgroundColor, Color(0.2, 0.3, 0.4));
    EXPECT_FALSE(p.backgroundImage);
    EXPECT_EQ(d.speedProperties, (DocumentSpeedProperties{42.0, 0.25, 5.5}));
    EXPECT_EQ(d.text.string(), "Hi");
}

TEST_F(ScriptFile, DisplayPropertiesOutsideTheirRangeAreHeldInIt) {
    versionOneFile()->run(
        "INSERT INTO properties (prompter_margin, prompter_margin_alignment, prompter_word_count_factor, "
        "indicator_position, overlay_opacity, background_image_opacity) "
        "VALUES (1e300, -7, 9e999, -0.5, 2, -1e300)");

    const auto& p = reopen().scriptProperties;
    EXPECT_EQ(p.prompterMargin, 0.8f) << "a wider margin leaves no column to show the text in";
    EXPECT_EQ(p.prompterMarginAlignment, -1.0f);
    EXPECT_EQ(p.prompterWordCountFactor, 0.5f) << "infinity is no number: the fallback";
    EXPECT_EQ(p.indicatorPosition, 0.0f);
    EXPECT_EQ(p.overlayOpacity, 1.0f);
    EXPECT_EQ(p.backgroundImageOpacity, 0.0f);
}

TEST_F(ScriptFile, NoPropertiesRowGivesTheSettings) {
    defaults.set(settings::defaultPrompterMarginKey, 0.2f);
    defaults.set(settings::defaultIndicatorType, "arrow");
    versionOneFile();

    const Document d = reopen();
    EXPECT_EQ(d.scriptProperties, DocumentScriptProperties::fromUserDefaults(defaults));
    EXPECT_EQ(d.scriptProperties.indicatorType, IndicatorType::arrow);
    EXPECT_EQ(d.speedProperties, (DocumentSpeedProperties{42.0, 0.25, 5.5}));
}

TEST_F(ScriptFile, StoredChoicesIgnoreCaseAndUnknownWordsFallBack) {
    ScriptDocumentFile::save(path, sampleDocument(), {});
    change(
        "UPDATE properties SET indicator_color = 'YELLOW', indicator_type = 'Arrow', overlay_type = 'fog', "
        "text_alignment = 42, background_color = x'00', prompter_margin = 'wide', flip_h = 0.5");

    const auto p = reopen().scriptProperties;
    EXPECT_EQ(p.indicatorColor, IndicatorColor::yellow);
    EXPECT_EQ(p.indicatorType, IndicatorType::arrow);
    EXPECT_EQ(p.overlayType, OverlayType::none);
    // Values of another storage class read as absent.
    EXPECT_EQ(p.textAlignment, TextAlignment::center);
    EXPECT_EQ(p.prompterMargin, 0.1f);
    EXPECT_FALSE(p.flipHorizontal);
    EXPECT_EQ(p.backgroundColor, Color(0.2, 0.3, 0.4));
}

TEST_F(ScriptFile, MissingColumnsReadAsNull) {
    handMadeFile("CREATE TABLE metainfo (other INTEGER); CREATE TABLE texts (binary_contents BLOB);"
                 "CREATE TABLE properties (flip_v INTEGER); CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, "
                 "location INTEGER); INSERT INTO metainfo VALUES (5); INSERT INTO texts VALUES "
                 "(CAST('{\\rtf1 Hello}' AS BLOB)); INSERT INTO properties VALUES (1); INSERT INTO bookmarks "
                 "(location) VALUES (1);");

    const Document d = reopen();
    EXPECT_TRUE(d.scriptProperties.flipVertical);
    EXPECT_EQ(d.scriptProperties.prompterMargin, 0.1f);
    const auto found = embeddedBookmarks(d.text);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].second->userBlurb, "");
}

// ---- bookmarks as stored

TEST_F(ScriptFile, BookmarksOutsideTheTextAreDropped) {
    auto c = versionOneFile("{\\rtf1 Hello}");
    for (const char* location : {"4", "5", "-1", "NULL", "9223372036854775807", "'two'"}) {
        c->run(std::string("INSERT INTO bookmarks (location, type, user_blurb) VALUES (") + location +
               ", 0, 'at " + (location[0] == '\'' ? "text" : location) + "')");
    }
    c->run("INSERT INTO bookmarks (location, type) VALUES (1, 1)"); // a "*" line bookmark
    c.reset();

    const auto found = embeddedBookmarks(reopen().text);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].first, 4);
    EXPECT_EQ(found[0].second->userBlurb, "at 4");
}

TEST_F(ScriptFile, FilesWithoutTheNoteColumnReadTheExcerptAsTheNote) {
    // The version-1 layout as first written: no "user_blurb".
    handMadeFile(
        "CREATE TABLE metainfo (version INTEGER, last_update INTEGER);"
        "CREATE TABLE texts (contents TEXT, binary_contents BLOB);"
        "CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, location INTEGER, length INTEGER, blurb TEXT, "
        "timestamp REAL, type INTEGER, scrollSpeed REAL, sortOrder INTEGER);"
        "CREATE TABLE properties (background_color BLOB);"
        "INSERT INTO metainfo VALUES (NULL, 0);"
        "INSERT INTO texts VALUES ('One two', CAST('{\\rtf1 One two}' AS BLOB));"
        "INSERT INTO bookmarks (location, length, blurb, type) VALUES (4, 1, 'One two', 0), (0, 1, NULL, "
        "0);");

    const AttributedString text = reopen().text;
    ASSERT_TRUE(bookmarkAt(text, 4));
    EXPECT_EQ(bookmarkAt(text, 4)->userBlurb, "One two");
    EXPECT_EQ(bookmarkAt(text, 4)->sortOrder, -1);
    ASSERT_TRUE(bookmarkAt(text, 0));
    EXPECT_EQ(bookmarkAt(text, 0)->userBlurb, "");
}

// A file without the properties table fails; one without the bookmarks table opens with its text.
TEST_F(ScriptFile, AFileWithoutPropertiesFailsAndOneWithoutBookmarksOpens) {
    handMadeFile(
        "CREATE TABLE metainfo (version INTEGER); CREATE TABLE texts (binary_contents BLOB);"
        "INSERT INTO metainfo VALUES (1); INSERT INTO texts VALUES (CAST('{\\rtf1 Plain}' AS BLOB));");
    EXPECT_THROW(reopen(), ProjectError);
    change("CREATE TABLE properties (flip_h INTEGER)");
    std::vector<std::string> logged;
    auto previous = base::setLogSink([&](std::string_view line) { logged.emplace_back(line); });
    const Document d = reopen();
    base::setLogSink(previous);
    EXPECT_EQ(d.text.string(), "Plain");
    EXPECT_EQ(logged, std::vector<std::string>{"db has no bookmarks"});
}

// ---- errors

// Each change is made on top of the one before.
TEST_F(ScriptFile, OpeningFailuresHaveTheirTexts) {
    const std::string noText = "Database file does not contain any text. This file cannot be oepened.";
    const struct {
        std::string change;
        std::string message;
    } steps[] = {
        {"", "Database does not specify a version. This file cannot be opened."},
        {"INSERT INTO metainfo (version) VALUES (2)", "The document version is not supported by Cuewright. "
                                                      "Please update Cuewright to the newest version."},
        {"UPDATE metainfo SET version = NULL", noText}, // a NULL version reads as 1
        {"INSERT INTO texts (contents) VALUES ('no rtf kept')", noText},
    };
    handMadeFile();
    for (const auto& step : steps) {
        if (!step.change.empty()) {
            change(step.change);
        }
        try {
            reopen();
            ADD_FAILURE() << "opened; expected " << step.message;
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), step.message);
        }
    }
    change("UPDATE texts SET binary_contents = CAST('plain words' AS BLOB)");
    EXPECT_THROW(reopen(), TextConversionError);
    change("UPDATE texts SET binary_contents = CAST('{\\rtf1 fine}' AS BLOB)");
    EXPECT_EQ(reopen().text.string(), "fine");
    // An RTF that does not give the text whole: the plain copy beside it, or a refusal.
    const std::string deep = std::string(600, '{') + "deep words" + std::string(600, '}');
    const std::tuple<std::string, std::string, const char*> texts[] = {
        {"{\\rtf1 " + deep + "}", "other", "deep words"},
        {"{\\rtf1 {\\b bold} and mo", "bold and more", "bold and more"},
        {"{\\rtf1 {\\b xyz", "abc", "abc"},
        {"{\\rtf1 {\\*\\x hidden}}", "hidden words", "hidden words"},
    };
    for (const auto& [rtf, plain, expected] : texts) {
        change("UPDATE texts SET binary_contents = CAST('" + rtf + "' AS BLOB), contents = '" + plain + "'");
        QString notice;
        const platform::AttributedString text = ScriptDocumentFile::open(path, defaults, &notice).text;
        EXPECT_EQ(text.string(), expected) << rtf;
        EXPECT_EQ(notice.isEmpty(), rtf.find("deep") != std::string::npos) << rtf;
        const std::optional<platform::Font> font = text.isEmpty() ? std::nullopt : text.attributes(0).font;
        EXPECT_TRUE(font) << rtf;
        EXPECT_EQ(font.value_or(platform::Font{}).bold, rtf.find("bold") != std::string::npos) << rtf;
    }
    change("UPDATE texts SET binary_contents = CAST('{\\rtf1 {\\b xyz' AS BLOB), contents = NULL");
    EXPECT_THROW(reopen(), TextConversionError) << "cut short, with no plain copy";
}

// What the person opening a file is told: which file, and why in words, never SQLite's own text;
// opening changes nothing.
TEST_F(ScriptFile, AFileThatIsNoScriptIsNamedWithTheReason) {
    const std::string endlessView = "CREATE VIEW texts AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                                    "SELECT i + 1 FROM n) SELECT 'x' AS contents, CAST(max(i) AS BLOB) "
                                    "AS binary_contents FROM n";
    // A saved script whose table `replaced` is dropped (none when empty) before `statement` runs.
    const auto scriptWith = [&](const fs::path& p, const std::string& replaced,
                                const std::string& statement) {
        ScriptDocumentFile::save(p, Document{}, {});
        auto c = sql::Connection::open(p.string());
        if (!replaced.empty()) {
            c->execute("DROP TABLE " + replaced);
        }
        c->execute(statement);
    };
    ScriptDocumentFile::save(path, Document{{}, {}, AttributedString(QString(20000, QChar('x')))}, {});
    std::string damaged = fileBytes(path);
    damaged.replace(4096, 4096, 4096, '\xff');
    struct Case {
        std::string name;
        std::function<void(const fs::path&)> make;
        std::string because;
    };
    std::vector<Case> cases = {
        {"words.cwr", [](const fs::path& p) { writeBytes(p, "This is not a database, just some words."); },
         "it is not a Cuewright script"},
        {"other.cwr",
         [](const fs::path& p) { sql::Connection::open(p.string())->execute("CREATE TABLE t (x)"); },
         "it is not a Cuewright script"},
        {"damaged.cwr", [&](const fs::path& p) { writeBytes(p, damaged); }, "it is damaged"},
        {"missing.cwr", [](const fs::path&) {}, "there is no such file"},
        {"folder.cwr", [](const fs::path& p) { fs::create_directory(p); }, "it is not a file"},
        {"private.cwr",
         [&](const fs::path& p) {
             writeBytes(p, fileBytes(path));
             fs::permissions(p, fs::perms::none);
         },
         ::geteuid() == 0 ? "" : "you don\u2019t have permission to view it"},
    };
    // The file's own SQL would run on reading: the endless view never starts. By file: the table
    // dropped (none when empty) and the statement run instead.
    const std::string hostile[][3] = {
        {"view-loop.cwr", "texts", endlessView},
        {"big-blob.cwr", "Texts",
         "CREATE VIEW Texts AS SELECT '' AS contents, randomblob(900000000) AS binary_contents"},
        {"metainfo-view.cwr", "metainfo", "CREATE VIEW metainfo AS SELECT 1 AS version"},
        {"properties-view.cwr", "properties", "CREATE VIEW properties AS SELECT 1e308 AS playback_speed"},
        {"bookmarks-view.cwr", "bookmarks", "CREATE VIEW bookmarks AS SELECT 1 AS id, 0 AS location"},
        {"trigger.cwr", "", "CREATE TRIGGER t AFTER INSERT ON texts BEGIN SELECT 1; END"},
        {"virtual.cwr", "texts", "CREATE VIRTUAL TABLE texts USING fts5(contents, binary_contents)"},
        {"generated.cwr", "texts",
         "CREATE TABLE texts (contents TEXT, binary_contents BLOB AS (zeroblob(900000000)))"},
    };
    for (const auto& [name, dropped, statement] : hostile) {
        cases.push_back(
            {name, [&](const fs::path& p) { scriptWith(p, dropped, statement); }, "it is damaged"});
    }
    for (const auto& c : cases) {
        c.make(dir / c.name);
        if (c.because.empty()) {
            continue; // root reads every file
        }
        const std::string before = fs::is_regular_file(dir / c.name) ? fileBytes(dir / c.name) : "";
        try {
            ScriptDocumentFile::open(dir / c.name, defaults);
            ADD_FAILURE() << c.name << " opened";
        } catch (const ProjectError& e) {
            EXPECT_EQ(std::string(e.what()), "The file \u201C" + c.name +
                                                 "\u201D couldn\u2019t be opened because " + c.because + ".");
        }
        EXPECT_EQ(fs::is_regular_file(dir / c.name) ? fileBytes(dir / c.name) : "", before) << c.name;
    }
    EXPECT_FALSE(fs::exists(dir / "missing.cwr"));
}

// Whatever a file's tables hold, a reading of it ends: values beyond a script's size fail before
// they are made, and statements end at the reading's deadline.
TEST_F(ScriptFile, AReadingIsBoundedInSizeAndTime) {
    ScriptDocumentFile::save(path, Document{}, {});
    const auto reasonOf = [](const std::function<void()>& read) -> std::string {
        try {
            read();
        } catch (const sql::Result& e) {
            return e.isTooBig() ? "too big" : e.isInterrupted() ? "interrupted" : e.what();
        }
        return "read";
    };
    auto db = Database::openForReading(path, 100ms);
    EXPECT_EQ(reasonOf([&] {
                  db->scalar("SELECT length(zeroblob(" + std::to_string(Database::maxValueBytes + 1) + "))");
              }),
              "too big");
    EXPECT_EQ(reasonOf([&] { db->scalar("SELECT length(CAST(binary_contents AS BLOB)) FROM texts"); }),
              "read");
    EXPECT_EQ(reasonOf([&] {
                  db->scalar(
                      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT max(i) FROM n");
              }),
              "interrupted");
}

TEST_F(ScriptFile, WithoutAConnectionEveryOperationSaysSo) {
    Database database(defaults);
    const std::string text = "Database connection is not open.";
    auto check = [&](auto&& operation) {
        try {
            operation();
            ADD_FAILURE();
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.what(), text);
        }
    };
    check([&] { database.writeMetainfo(); });
    check([&] { database.writeProperties(Document{}); });
    check([&] { database.writeText(AttributedString("x")); });
    check([&] { database.writeBookmarks(sampleBookmarks(), Document{}); });
    check([&] { database.readVersion(); });
    check([&] { database.readDocument(); });
    check([&] { database.readScriptProperties(); });
    check([&] { database.readSpeedProperties(); });
    EXPECT_NO_THROW(database.writeBookmarks({}, Document{}));
}

// ---- failing saves

class FailingSave : public ScriptFile {
protected:
    void SetUp() override {
        Document before = sampleDocument();
        before.text = AttributedString("The old script");
        ScriptDocumentFile::save(path, before, {});
        original = fileBytes(path);
    }

    void expectUntouched() {
        EXPECT_EQ(fileBytes(path), original);
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "script.cwr" || name == "defaults.json") << name << " left behind";
        }
    }

    void expectRetryWorks() {
        ScriptDocumentFile::save(path, sampleDocument(), sampleBookmarks());
        EXPECT_EQ(reopen().text.string(), sampleDocument().text.string());
    }

    std::string original;
};

// A missing or broken schema, or a writer failing after the other three (no "bookmarks" table).
TEST_F(FailingSave, ASchemaOrWriterFailureLeavesTheDestination) {
    const std::string noBookmarks(
        scriptFileSchema().substr(0, scriptFileSchema().find("CREATE TABLE \"bookmarks\"")));
    const struct {
        std::string schema;
        std::string message; // "" for SQLite's own text
    } cases[] = {
        {"", "Schema file not found or damaged. Please re-install Cuewright."},
        {"CREATE TABLE metainfo (version INTEGER); CREATE TABLES oops;", "General SQLite error: "},
        {noBookmarks, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.schema.substr(0, 40));
        ScriptDocumentFile::SaveOptions options;
        options.schema = c.schema;
        try {
            ScriptDocumentFile::save(path, sampleDocument(), sampleBookmarks(), options);
            ADD_FAILURE() << "saved";
        } catch (const DatabaseError& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(c.message)) << e.what();
            if (c.message.starts_with("General")) {
                EXPECT_EQ(e.kind(), DatabaseError::Kind::sqLiteError);
                EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
            } else {
                EXPECT_EQ(e.what(), c.message);
            }
        } catch (const sql::Result&) {
            EXPECT_EQ(c.message, "");
        }
        expectUntouched();
        expectRetryWorks();
        SetUp();
    }
}

TEST_F(FailingSave, AFailureAtTheReplacementLeavesTheDestination) {
    ScriptDocumentFile::SaveOptions options;
    fs::path seen;
    options.beforeReplace = [&](const fs::path& finished) {
        seen = finished;
        // The working copy is complete and readable at this point.
        EXPECT_EQ(ScriptDocumentFile::open(finished, defaults).text.string(), sampleDocument().text.string());
        return false;
    };
    EXPECT_THROW(ScriptDocumentFile::save(path, sampleDocument(), {}, options), std::system_error);
    EXPECT_EQ(seen.parent_path(), path.parent_path());
    expectUntouched();
    expectRetryWorks();
}

TEST_F(FailingSave, ASaveShortOfDescriptorsFailsClearlyAndLeavesTheDestination) {
    // From none free (the working file cannot be made) to enough: no crash, the old script or
    // the whole new one, and a failure in words.
    for (int spare = 0; spare <= 6; ++spare) {
        const std::string outcome = testsupport::inChildShortOfDescriptors(spare, [&] {
            try {
                ScriptDocumentFile::save(path, sampleDocument(), sampleBookmarks());
            } catch (const std::exception& e) {
                return std::string(e.what());
            }
            return std::string("saved");
        });
        if (spare == 0) {
            EXPECT_EQ(outcome, "Could not save \"" + path.string() + "\": too many open files.");
        }
        if (outcome == "saved") {
            EXPECT_EQ(reopen().text.string(), sampleDocument().text.string()) << spare;
            SetUp();
        } else {
            EXPECT_FALSE(outcome.starts_with("crashed") || outcome.starts_with("ended")) << spare << outcome;
            expectUntouched();
        }
    }
}

TEST_F(FailingSave, AnUnwritableFolderLeavesTheDestination) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_ANY_THROW(ScriptDocumentFile::save(path, sampleDocument(), {}));
    fs::permissions(dir.path(), fs::perms::owner_all);
    expectUntouched();
    expectRetryWorks();
}

// A save killed half-way leaves its working copy, named with the saver's pid; the next save or
// opening in that folder removes it, while a save in progress (a living pid) keeps its own.
TEST_F(FailingSave, AWorkingCopyLeftByAKilledSaveGoesAtTheNextSaveOrOpening) {
    const pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ::waitpid(ended, nullptr, 0);
    const fs::path stale = dir / (".cw-" + std::to_string(ended) + "-q1W2e3");
    const fs::path inProgress = dir / (base::temporaryPrefix() + "r4T5y6");
    std::ofstream(inProgress) << "another save";
    for (const bool saving : {false, true}) {
        std::ofstream(stale) << "SQLite format 3";
        fs::path working;
        ScriptDocumentFile::SaveOptions options;
        options.beforeReplace = [&](const fs::path& finished) {
            working = finished;
            return true;
        };
        if (saving) {
            ScriptDocumentFile::save(path, sampleDocument(), {}, options);
            EXPECT_TRUE(working.filename().string().starts_with(base::temporaryPrefix())) << working;
        } else {
            reopen();
        }
        EXPECT_FALSE(fs::exists(stale)) << (saving ? "saving" : "opening");
        EXPECT_TRUE(fs::exists(inProgress)) << (saving ? "saving" : "opening");
    }
}

TEST_F(ScriptFile, ANameAtTheSystemsLimitSavesExportsAndReopens) {
    const fs::path longPath = dir / (std::string(246, 'n') + ".cwr");
    ASSERT_EQ(longPath.filename().string().size(), 250u);
    ScriptDocumentFile::save(longPath, sampleDocument(), sampleBookmarks());
    ScriptDocumentFile::save(longPath, sampleDocument(), sampleBookmarks()); // over the first
    EXPECT_EQ(ScriptDocumentFile::open(longPath, defaults).text.string(), sampleDocument().text.string());
    const AttributedString text = sampleDocument().text;
    for (const char* extension : {".txt", ".rtf", ".docx"}) {
        const fs::path exported = dir / (std::string(250 - std::strlen(extension), 'e') + extension);
        ScriptExporter::exportPlainText(exported, text);
        if (std::string_view(extension) == ".rtf") {
            ScriptExporter::exportRTF(exported, text, Color::black());
            EXPECT_EQ(platform::readRtf(QByteArray::fromStdString(fileBytes(exported)))->string(),
                      text.string());
        } else if (std::string_view(extension) == ".docx") {
            ScriptExporter::exportDOCX(exported, text, Color::black());
        }
        EXPECT_GT(fs::file_size(exported), 0u) << extension;
    }
}

// ---- what a failed save tells the user

namespace {

// Mounting needs root in a mount namespace of its own: the test runs itself again under
// unshare(1) with CW_MOUNT_NAMESPACE set, and that run does the work.
constexpr int cannotMount = 77;

bool mounted(const fs::path& folder, unsigned long flags, const char* options) {
    fs::create_directories(folder);
    return ::mount("tmpfs", folder.c_str(), "tmpfs", flags, options) == 0;
}

void fill(const fs::path& folder) {
    std::ofstream out(folder / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
}

// What `attempt` throws, as the user reads it; as the user nobody in a child process when asked.
std::string failureText(bool asNobody, const std::function<void()>& attempt) {
    auto run = [&]() -> std::string {
        try {
            attempt();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no failure";
    };
    if (!asNobody) {
        return run();
    }
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string text = ::setresuid(65534, 65534, 65534) == 0 ? run() : "still root";
        (void)!::write(pipeEnds[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

} // namespace

TEST_F(FailingSave, TheUserReadsTheirFileAndAPlainReason) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting a small or read-only folder and dropping rights need root";
    }
    if (std::getenv("CW_MOUNT_NAMESPACE") == nullptr) {
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        const fs::path log = dir / "inner.log";
        const std::string command =
            "unshare --mount --propagation private env CW_MOUNT_NAMESPACE=1 '" + self +
            "' --gtest_filter=FailingSave.TheUserReadsTheirFileAndAPlainReason >'" + log.string() + "' 2>&1";
        const int status = std::system(command.c_str());
        if (!WIFEXITED(status) || WEXITSTATUS(status) == cannotMount || WEXITSTATUS(status) == 127 ||
            fileBytes(log).find("unshare:") != std::string::npos) {
            GTEST_SKIP() << "no mount namespace here: " << fileBytes(log);
        }
        EXPECT_EQ(WEXITSTATUS(status), 0) << fileBytes(log);
        return;
    }

    fs::permissions(dir.path(), fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    const fs::path readOnly = dir / "read-only";
    const fs::path full = dir / "full";
    const fs::path filling = dir / "filling"; // room for the sample, not for a long script
    const fs::path locked = dir / "locked";
    if (!mounted(readOnly, 0, "size=1m") || !mounted(full, 0, "size=64k,mode=755") ||
        !mounted(filling, 0, "size=256k,mode=755")) {
        std::exit(cannotMount);
    }
    // Mount points cannot be removed: unmount before the test's folder goes.
    const struct Unmount {
        std::vector<fs::path> folders;
        ~Unmount() {
            for (const fs::path& folder : folders)
                ::umount2(folder.c_str(), MNT_DETACH);
        }
    } unmount{{readOnly, full, filling}};
    Document longScript = sampleDocument();
    longScript.text = AttributedString(QString(600000, u'x'));
    fs::create_directories(locked);
    for (const fs::path& folder : {readOnly, full, filling, locked}) {
        ScriptDocumentFile::save(folder / "sample.cwr", sampleDocument(), {});
    }
    ASSERT_EQ(::mount(nullptr, readOnly.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    fill(full);
    // Links in a writable folder into the read-only one: the folder that refused is named.
    fs::create_symlink(readOnly / "sample.cwr", dir / "link.cwr");
    fs::create_symlink(readOnly / "sample.rtf", dir / "link.rtf");
    const struct {
        fs::path folder;
        std::string reason;
        std::string name = "sample";
    } cases[] = {
        {readOnly, "the folder \"" + readOnly.string() + "\" is read-only"},
        {full, "the disk is full"},
        {filling, "the disk is full"}, // by the save itself: the disk has room again afterwards
        {locked, "no permission to write in \"" + locked.string() + "\""},
        {dir.path(), "the folder \"" + readOnly.string() + "\" is read-only", "link"},
    };
    for (const auto& c : cases) {
        const fs::path chosen = c.folder / (c.name + ".cwr");
        const std::string before = fileBytes(chosen);
        const fs::path exported = c.folder / (c.name + ".rtf");
        // The locked folder is tried by a child without root's rights; it fails before it writes.
        const Document& saved = c.folder == filling ? longScript : sampleDocument();
        const std::string seen = failureText(
            c.folder == locked, [&] { ScriptDocumentFile::save(chosen, saved, sampleBookmarks()); });
        EXPECT_EQ(seen, "Could not save \"" + chosen.string() + "\": " + c.reason + ".");
        EXPECT_EQ(failureText(c.folder == locked,
                              [&] { ScriptExporter::exportRTF(exported, saved.text, Color::black()); }),
                  "Could not save \"" + exported.string() + "\": " + c.reason + ".");
        EXPECT_EQ(fileBytes(chosen), before) << "the original is untouched";
        for (const auto& entry : fs::directory_iterator(c.folder == dir.path() ? readOnly : c.folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "sample.cwr" || name == "filler") << name << " left behind";
        }
    }
}

// ---- replacing

TEST_F(ScriptFile, SavingOverAFileReplacesItWhole) {
    auto c = handMadeFile();
    c->run("CREATE TABLE extra (x)");
    c->run("INSERT INTO texts (contents) VALUES ('stale')");
    c.reset();
    ::chmod(path.c_str(), 0640);

    ScriptDocumentFile::save(path, sampleDocument(), {});
    EXPECT_EQ(scalar("SELECT count(*) FROM sqlite_master WHERE name = 'extra'"),
              sql::Binding(std::int64_t{0}));
    EXPECT_EQ(scalar("SELECT count(*) FROM texts"), sql::Binding(std::int64_t{1}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_FALSE(fs::exists(fs::path(path.string() + "-journal")));
}

TEST_F(ScriptFile, TwoSavesDifferOnlyInTheirTime) {
    ScriptDocumentFile::SaveOptions first;
    first.now = std::chrono::system_clock::time_point(1000s);
    ScriptDocumentFile::save(path, sampleDocument(), sampleBookmarks(), first);
    const std::string one = fileBytes(path);
    ScriptDocumentFile::SaveOptions second;
    second.now = std::chrono::system_clock::time_point(2000s);
    ScriptDocumentFile::save(path, sampleDocument(), sampleBookmarks(), second);
    EXPECT_EQ(scalar("SELECT last_update FROM metainfo"), sql::Binding(std::int64_t{2000}));
    second.now = first.now;
    ScriptDocumentFile::save(path, sampleDocument(), sampleBookmarks(), second);
    EXPECT_EQ(fileBytes(path), one);
}

// Speeds from a script and from the settings file are held to what the controls offer: what is
// no number, and a range upside down or without width (also once clamped), falls back (a
// script's to the settings, the settings' to the defaults), and the rest is clamped into the
// controls' bounds.
TEST_F(ScriptFile, SpeedsAndRangesAreHeldToWhatTheControlsOffer) {
    const double nan = std::nan(""), inf = INFINITY;
    const struct {
        double percent, min, max;
        DocumentSpeedProperties fromScript, fromSettings;
    } cases[] = {
        {nan, 0.5, 4.0, {42.0, 0.5, 4.0}, {31.0, 0.5, 4.0}},
        {1e308, -inf, inf, {100.0, 0.25, 5.5}, {100.0, 0.1, 3.0}},
        {-50, 1000, -1000, {0.0, 0.25, 5.5}, {0.0, 0.1, 3.0}},
        {55, -1, 1e308, {55, 0, 6}, {55, 0, 6}},
        {55, 0.5, 0.5, {55, 0.25, 5.5}, {55, 0.1, 3.0}},
        {55, 1e308, 1e308, {55, 0.25, 5.5}, {55, 0.1, 3.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.percent << " % of " << c.min << " - " << c.max);
        fs::remove(path);
        versionOneFile()->run(
            "INSERT INTO properties (playback_speed, min_speed, max_speed) VALUES (?, ?, ?)",
            sql::Bindings{c.percent, c.min, c.max});
        EXPECT_EQ(reopen().speedProperties, c.fromScript);

        platform::Defaults stored(platform::Defaults::Options{dir / "speeds.json", 1h, {}});
        registerUserDefaults(stored);
        stored.set(settings::defaultScrollSpeed, c.percent);
        stored.set(settings::defaultMinScrollSpeedLPS, c.min);
        stored.set(settings::defaultMaxScrollSpeedLPS, c.max);
        EXPECT_EQ(DocumentSpeedProperties::fromUserDefaults(stored), c.fromSettings);
    }
}
