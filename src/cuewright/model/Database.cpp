#include "cuewright/model/Database.h"

#include "base/AtomicFile.h"
#include "base/Log.h"
#include "base/RegularFile.h"
#include "cuewright/model/ArchivedText.h"
#include "cuewright/model/DatabaseError.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/Resources.h"
#include "cuewright/model/ScriptImport.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "sql/Connection.h"

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <system_error>

namespace cw {

namespace {

using sql::column;
using sql::Setter;

constexpr std::int64_t kFormatVersion = 1;
constexpr std::string_view kScriptTables = "('metainfo', 'properties', 'texts', 'bookmarks')";

// The column's value; NULL, another stored type and a missing column all read as absent.
template <sql::Value V> std::optional<V> optionalValue(const sql::Row& row, std::string_view name) {
    try {
        return row.get(column<std::optional<V>>(name));
    } catch (const sql::QueryError&) {
        return std::nullopt;
    }
}

std::optional<float> floatValue(const sql::Row& row, std::string_view name) {
    if (std::optional<double> d = optionalValue<double>(row, name)) {
        constexpr double kMax = std::numeric_limits<float>::max();
        // Infinities and NaN convert as they are; finite values beyond float's range would not.
        return std::isfinite(*d) ? static_cast<float>(std::clamp(*d, -kMax, kMax)) : static_cast<float>(*d);
    }
    return std::nullopt;
}

// A display property from a file: within its range, and the fallback when it is no number, so
// a damaged or hand-made file cannot push absurd sizes into the prompter's layout.
float boundedFloat(const sql::Row& row, std::string_view name, float low, float high, float fallback) {
    const std::optional<float> value = floatValue(row, name);
    if (!value || !std::isfinite(*value)) {
        return fallback;
    }
    return std::clamp(*value, low, high);
}

std::optional<bool> boolValue(const sql::Row& row, std::string_view name) {
    if (std::optional<std::int64_t> i = optionalValue<std::int64_t>(row, name)) {
        return *i != 0;
    }
    return std::nullopt;
}

template <class E> E choiceValue(const sql::Row& row, std::string_view name, E whenNull) {
    if (std::optional<std::string> raw = optionalValue<std::string>(row, name)) {
        return base::fromRawValue<E>(*raw);
    }
    return whenNull;
}

template <class E> std::string rawString(E value) {
    return std::string(base::rawValue(value));
}

// Floats are widened exactly (0.1f is stored as 0.10000000149011612).
double widened(float value) {
    return static_cast<double>(value);
}

bool isPng(const std::vector<std::uint8_t>& bytes) {
    static constexpr std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return bytes.size() >= sizeof signature &&
           std::equal(std::begin(signature), std::end(signature), bytes.begin());
}

QByteArrayView viewOf(const std::vector<std::uint8_t>& bytes) {
    return QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// The picture as PNG; another format Qt reads is converted, anything unreadable is no picture.
std::optional<sql::Data> pngForStorage(const std::optional<std::vector<std::uint8_t>>& image) {
    if (!image || image->empty()) {
        return std::nullopt;
    }
    if (isPng(*image)) {
        return *image;
    }
    QImage decoded;
    if (!decoded.loadFromData(viewOf(*image))) {
        return std::nullopt;
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!decoded.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return sql::Data(png.begin(), png.end());
}

// Stored bytes that do not decode as a PNG picture give no picture.
std::optional<std::vector<std::uint8_t>> storedPng(const std::optional<sql::Data>& bytes) {
    if (!bytes || !isPng(*bytes)) {
        return std::nullopt;
    }
    QImage decoded;
    if (!decoded.loadFromData(viewOf(*bytes), "PNG")) {
        return std::nullopt;
    }
    return *bytes;
}

// The text with each bookmark over the one character at its location, built in one pass: adding
// the attributes one by one would cost a pass over all runs per bookmark.
platform::AttributedString withBookmarks(const platform::AttributedString& text,
                                         const std::map<int, platform::EmbeddedBookmarkPtr>& bookmarks) {
    if (bookmarks.empty()) {
        return text;
    }
    const QString& characters = text.string();
    platform::AttributedString result;
    auto next = bookmarks.begin();
    for (const platform::AttributedString::Run& run : text.runs()) {
        int position = run.range.location;
        while (position < run.range.end()) {
            if (next == bookmarks.end() || next->first >= run.range.end()) {
                result.append(characters.mid(position, run.range.end() - position), run.attributes);
                break;
            }
            result.append(characters.mid(position, next->first - position), run.attributes);
            platform::Attributes marked = run.attributes;
            marked.bookmark = next->second;
            result.append(characters.mid(next->first, 1), marked);
            position = next->first + 1;
            ++next;
        }
    }
    return result;
}

} // namespace

const std::string& scriptFileSchema() {
    static const std::string schema = [] {
        auto text = resourceText("db_schema", "sql");
        if (!text) {
            base::fatal("the script file schema is missing from the binary");
        }
        return *std::move(text);
    }();
    return schema;
}

Database::Database(const platform::Defaults& defaults)
    : defaults_(&defaults) {}

const platform::Defaults& Database::defaults() const {
    return defaults_ ? *defaults_ : platform::Defaults::standard();
}

sql::Connection& Database::connection() const {
    if (!db) {
        throw DatabaseError::databaseNotOpen();
    }
    return *db;
}

// ---- writers

void Database::writeMetainfo(std::chrono::system_clock::time_point now) {
    sql::Connection& c = connection();
    // duration_cast truncates toward zero, also before 1970.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    c.run(
        sql::Table("metainfo")
            .insert(Setter::assign(column<std::int64_t>("version"), kFormatVersion),
                    Setter::assign(column<std::int64_t>("last_update"), static_cast<std::int64_t>(seconds))));
}

void Database::writeProperties(const Document& document) {
    sql::Connection& c = connection();
    const DocumentScriptProperties& p = document.scriptProperties;
    const DocumentSpeedProperties& s = document.speedProperties;
    const sql::Data color = platform::encodeColor(archivedFromColor(p.backgroundColor));
    c.run(
        sql::Table("properties")
            .insert(std::vector<Setter>{
                Setter::assign(column<sql::Data>("background_color"), color),
                Setter::assign(column<std::optional<sql::Data>>("background_image"),
                               pngForStorage(p.backgroundImage)),
                Setter::assign(column<double>("background_image_opacity"), widened(p.backgroundImageOpacity)),
                Setter::assign(column<double>("playback_speed"), s.scrollSpeedPerc),
                Setter::assign(column<double>("min_speed"), s.minScrollSpeedLPS),
                Setter::assign(column<double>("max_speed"), s.maxScrollSpeedLPS),
                Setter::assign(column<bool>("show_bg_image"), p.showBackgroundImage),
                Setter::assign(column<bool>("flip_h"), p.flipHorizontal),
                Setter::assign(column<bool>("flip_v"), p.flipVertical),
                Setter::assign(column<double>("prompter_margin"), widened(p.prompterMargin)),
                Setter::assign(column<double>("prompter_margin_alignment"),
                               widened(p.prompterMarginAlignment)),
                Setter::assign(column<double>("prompter_word_count_factor"),
                               widened(p.prompterWordCountFactor)),
                Setter::assign(column<std::string>("indicator_type"), rawString(p.indicatorType)),
                Setter::assign(column<std::string>("indicator_size"), rawString(p.indicatorSize)),
                Setter::assign(column<std::string>("indicator_color"), rawString(p.indicatorColor)),
                Setter::assign(column<double>("indicator_position"), widened(p.indicatorPosition)),
                Setter::assign(column<std::string>("overlay_type"), rawString(p.overlayType)),
                Setter::assign(column<double>("overlay_opacity"), widened(p.overlayOpacity)),
                Setter::assign(column<std::string>("text_alignment"), rawString(p.textAlignment)),
                Setter::assign(column<bool>("show_reading_line"), p.showReadingLine),
            }));
}

void Database::writeText(const platform::AttributedString& text) {
    sql::Connection& c = connection();
    const QByteArray rtf = platform::writeRtf(text);
    c.run(sql::Table("texts").insert(
        Setter::assign(column<std::string>("contents"), text.string().toStdString()),
        Setter::assign(column<sql::Blob>("binary_contents"),
                       sql::Blob(rtf.constData(), std::size_t(rtf.size())))));
}

void Database::writeBookmarks(const std::vector<Bookmark>& bookmarks, const Document& document) {
    if (bookmarks.empty()) {
        return;
    }
    sql::Connection& c = connection();
    const double linesPerSecond = document.speedProperties.linesPerSecond();
    const sql::Table table("bookmarks");
    for (const Bookmark& b : bookmarks) {
        const bool isLineBookmark = QString::fromStdString(b.id).toLower().contains(u"custom");
        c.run(table.insert(std::vector<Setter>{
            Setter::assign(column<std::int64_t>("location"), std::int64_t{b.location}),
            Setter::assign(column<std::int64_t>("length"), std::int64_t{1}),
            Setter::assign(column<std::string>("blurb"), b.excerpt),
            Setter::assign(column<double>("timestamp"), b.timestamp),
            Setter::assign(column<std::int64_t>("type"), std::int64_t{isLineBookmark ? 1 : 0}),
            Setter::assign(column<double>("scrollSpeed"), linesPerSecond),
            Setter::assign(column<std::int64_t>("sortOrder"), std::int64_t{b.sortOrder}),
            Setter::assign(column<std::string>("user_blurb"), b.userBlurb),
        }));
    }
}

// ---- readers

std::int64_t Database::readVersion() {
    std::optional<sql::Row> row = connection().pluck(sql::Table("metainfo").limit(1));
    if (!row) {
        throw DatabaseError::noVersionSpecified();
    }
    return optionalValue<std::int64_t>(*row, "version").value_or(kFormatVersion);
}

Document Database::readDocument() {
    Document document;
    document.text = readTextWithBookmarks();
    document.scriptProperties = readScriptProperties();
    document.speedProperties = readSpeedProperties();
    return document;
}

platform::AttributedString Database::readTextWithBookmarks() {
    sql::Connection& c = connection();
    platform::AttributedString text = readText();

    std::optional<sql::RowIterator> rows;
    try {
        rows.emplace(c.prepare(sql::Table("bookmarks").order(column<std::int64_t>("id"))));
    } catch (const sql::Result&) {
        base::log("db has no bookmarks");
        return text;
    }
    const std::int64_t length = text.length();
    // By location; a later row on the same character replaces an earlier one.
    std::map<int, platform::EmbeddedBookmarkPtr> bookmarks;
    for (const sql::Row& row : *rows) {
        if (optionalValue<std::int64_t>(row, "type") == 1) {
            continue; // a "*" line: it comes back from the text itself
        }
        const std::optional<std::int64_t> location = optionalValue<std::int64_t>(row, "location");
        // Compared without adding to the stored value, which may be anything.
        if (!location || *location < 0 || *location >= length) {
            continue;
        }
        auto bookmark = std::make_shared<platform::EmbeddedBookmark>();
        bookmark->id = QString::fromStdString(sql::Uuid::random().toString());
        bookmark->location = static_cast<int>(*location);
        // Files written before "user_blurb" existed kept only the excerpt; it stands in for the note.
        std::optional<std::string> note = optionalValue<std::string>(row, "user_blurb");
        if (!note) {
            note = optionalValue<std::string>(row, "blurb");
        }
        bookmark->userBlurb = QString::fromStdString(note.value_or(""));
        if (std::optional<std::int64_t> order = optionalValue<std::int64_t>(row, "sortOrder");
            order && *order >= INT32_MIN && *order <= INT32_MAX) {
            bookmark->sortOrder = static_cast<int>(*order);
        }
        bookmarks[bookmark->location] = std::move(bookmark);
    }
    return withBookmarks(text, bookmarks);
}

platform::AttributedString Database::readText() {
    std::optional<sql::Row> row = connection().pluck(sql::Table("texts").limit(1));
    if (!row) {
        throw DatabaseError::textNotFound();
    }
    const std::optional<sql::Data> rtf = optionalValue<sql::Data>(*row, "binary_contents");
    if (!rtf) {
        throw DatabaseError::textNotFound();
    }
    platform::RtfDocumentAttributes read;
    std::optional<platform::AttributedString> text = platform::readRtf(viewOf(*rtf), &read);
    if (!text) {
        throw TextConversionError("The text of the script is not in RTF format.");
    }
    if (!read.endedEarly && !text->isEmpty()) {
        return std::move(*text);
    }
    // The plain copy written beside the RTF holds the words of a stored text that is cut short
    // (or gives nothing): opening less would let the next save write the loss over them.
    const std::optional<std::string> stored = optionalValue<std::string>(*row, "contents");
    const QString plain = TextUtils::scriptText(QString::fromStdString(stored.value_or(std::string())));
    if (plain == text->string() && (stored || !read.endedEarly)) {
        return std::move(*text);
    }
    if (plain.isEmpty()) { // and the RTF is cut short: nothing says what it held
        throw TextConversionError("The text of the script is cut short.");
    }
    textFromPlainCopy = true;
    base::log("the stored RTF of a script gives " + std::to_string(text->length()) + " of the " +
              std::to_string(plain.size()) + " characters of its plain text: the plain text is opened");
    if (text->isEmpty() || !plain.startsWith(text->string())) {
        return ScriptImport::plainText(plain, ScriptImport::DefaultStyle::fromUserDefaults(defaults()));
    }
    // The formatting read stays where the words agree; the rest takes the last style read.
    text->append(plain.sliced(text->length()), text->attributes(text->length() - 1));
    return std::move(*text);
}

DocumentScriptProperties Database::readScriptProperties() {
    sql::Connection& c = connection();
    DocumentScriptProperties p = DocumentScriptProperties::fromUserDefaults(defaults());
    const std::optional<sql::Row> found = c.pluck(sql::Table("properties").limit(1));
    if (!found) {
        return p;
    }
    const sql::Row& row = *found;
    // A NULL or undecodable colour keeps the settings' background colour.
    if (std::optional<sql::Data> bytes = optionalValue<sql::Data>(row, "background_color")) {
        if (std::optional<platform::ArchivedColor> archived = platform::decodeColor(*bytes)) {
            p.backgroundColor = colorFromArchived(*archived);
        }
    }
    p.backgroundImage = storedPng(optionalValue<sql::Data>(row, "background_image"));
    p.backgroundImageOpacity = boundedFloat(row, "background_image_opacity", 0, 1, 1.0f);
    p.showBackgroundImage = boolValue(row, "show_bg_image").value_or(false);
    p.flipHorizontal = boolValue(row, "flip_h").value_or(false);
    p.flipVertical = boolValue(row, "flip_v").value_or(false);
    p.prompterMargin = boundedFloat(row, "prompter_margin", 0, DocumentScriptProperties::maxPrompterMargin,
                                    DocumentScriptProperties::defaultPrompterMargin);
    p.prompterMarginAlignment = boundedFloat(row, "prompter_margin_alignment", -1, 1, 0.0f);
    p.prompterWordCountFactor = boundedFloat(row, "prompter_word_count_factor", 0, 1, 0.5f);
    p.indicatorType = choiceValue(row, "indicator_type", IndicatorType::none);
    p.indicatorSize = choiceValue(row, "indicator_size", IndicatorSize::medium);
    p.indicatorColor = choiceValue(row, "indicator_color", IndicatorColor::red);
    p.indicatorPosition = boundedFloat(row, "indicator_position", 0, 1, 0.5f);
    p.overlayType = choiceValue(row, "overlay_type", OverlayType::none);
    p.overlayOpacity = boundedFloat(row, "overlay_opacity", 0, 1, 1.0f);
    p.textAlignment = choiceValue(row, "text_alignment", TextAlignment::center);
    p.showReadingLine = boolValue(row, "show_reading_line").value_or(false);
    return p;
}

DocumentSpeedProperties Database::readSpeedProperties() {
    sql::Connection& c = connection();
    DocumentSpeedProperties s = DocumentSpeedProperties::fromUserDefaults(defaults());
    const DocumentSpeedProperties settings = s;
    const std::optional<sql::Row> row = c.pluck(sql::Table("properties").limit(1));
    if (!row) {
        return s;
    }
    s.scrollSpeedPerc = optionalValue<double>(*row, "playback_speed").value_or(s.scrollSpeedPerc);
    s.minScrollSpeedLPS = optionalValue<double>(*row, "min_speed").value_or(s.minScrollSpeedLPS);
    s.maxScrollSpeedLPS = optionalValue<double>(*row, "max_speed").value_or(s.maxScrollSpeedLPS);
    return s.held(settings, "the script " + c.description());
}

// ---- the working copy

bool Database::holdsPlainTables() {
    // Names compare without case, as SQLite resolves them. A plain table has pages of its own;
    // views, triggers and virtual tables have none. Generated columns are the file's SQL too.
    const std::optional<sql::Binding> foreign = connection().scalar(
        "SELECT (SELECT count(*) FROM sqlite_schema WHERE lower(tbl_name) IN " + std::string(kScriptTables) +
        " AND type <> 'index' AND NOT (type = 'table' AND lower(name) = lower(tbl_name) AND rootpage > 0"
        " AND upper(substr(ltrim(ifnull(sql, '')), 1, 14)) <> 'CREATE VIRTUAL'))"
        " + (SELECT count(*) FROM sqlite_schema AS s, pragma_table_xinfo(s.name) AS c"
        " WHERE s.type = 'table' AND lower(s.name) IN " +
        std::string(kScriptTables) + " AND c.hidden <> 0)");
    return foreign && std::holds_alternative<std::int64_t>(*foreign) && std::get<std::int64_t>(*foreign) == 0;
}

std::shared_ptr<sql::Connection> Database::openForReading(const std::filesystem::path& path,
                                                          std::chrono::milliseconds budget) {
    // Absolute, so that no path is ever taken for a "file:" URI.
    const std::string absolute = std::filesystem::absolute(path).string();
    try {
        base::requireRegularFile(absolute);
    } catch (const base::RegularFileError& error) {
        if (error.reason() == base::RegularFileError::Reason::notRegular) {
            throw ProjectError::couldNotOpen(absolute, "it is not a file");
        }
        const std::string because = unreadableBecause(absolute);
        throw ProjectError::couldNotOpen(absolute, because.empty() ? std::strerror(error.code()) : because);
    }
    std::shared_ptr<sql::Connection> connection =
        sql::Connection::open(absolute, sql::Connection::Access::readOnly);
    connection->limitValueLength(maxValueBytes);
    connection->setDeadline(std::chrono::steady_clock::now() + budget);
    return connection;
}

std::shared_ptr<sql::Connection> Database::createWorkingCopy(const std::filesystem::path& workingCopy,
                                                             std::string_view schema) {
    std::shared_ptr<sql::Connection> connection = sql::Connection::open(workingCopy.string());
    if (schema.empty()) {
        throw DatabaseError::canNotOpenSchemaFile();
    }
    try {
        // The copy is private until it is complete and synced, so SQLite need not journal to disk
        // or sync on its own; a failed save throws the whole file away.
        connection->execute("PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF;");
        connection->execute(schema);
    } catch (const sql::Result& result) {
        if (result.isDiskFull()) {
            throw; // the save tells the user so in their words
        }
        throw DatabaseError::sqLiteError(result.what());
    }
    return connection;
}

void Database::moveWorkingCopy(const std::filesystem::path& workingCopy,
                               const std::filesystem::path& destination,
                               const std::function<bool(const std::filesystem::path&)>& beforeReplace,
                               std::optional<mode_t> mode, base::DestinationLink link) {
    db.reset();
    base::replaceFileAtomically(workingCopy, destination, beforeReplace, mode, link);
}

} // namespace cw
