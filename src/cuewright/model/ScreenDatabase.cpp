#include "cuewright/model/ScreenDatabase.h"

#include "cuewright/model/Resources.h"

#include "base/EnumTable.h"
#include "base/Log.h"
#include "base/PrivateFolder.h"
#include "cuewright/model/ApplicationSupport.h"
#include "cuewright/model/DatabaseError.h"
#include "dispatch/MainThreadChecker.h"
#include "sql/Connection.h"

#include <filesystem>
#include <system_error>

namespace cw {

namespace {

struct Columns {
    sql::Expression<std::string> displayUUID = sql::column<std::string>("display_uuid");
    sql::Expression<std::optional<std::string>> nickname = sql::column<std::optional<std::string>>("name");
    sql::Expression<bool> flipH = sql::column<bool>("flip_h");
    sql::Expression<bool> flipV = sql::column<bool>("flip_v");
    sql::Expression<bool> showControls = sql::column<bool>("show_controls");
    sql::Expression<bool> showTimestamp = sql::column<bool>("show_timestamp");
    sql::Expression<bool> showProgress = sql::column<bool>("show_progress");
    sql::Expression<std::string> textAlignment = sql::column<std::string>("text_alignment");
};

} // namespace

static const Columns& columns() {
    static const Columns c;
    return c;
}

static const sql::Table& screensTable() {
    static const sql::Table table("screens");
    return table;
}

// Removes a file this program just made, with the journal SQLite may have left beside it.
static void removeHalfMadeFile(const std::string& path) {
    if (path.empty()) {
        return; // SQLite's private temporary database: nothing on disk to remove
    }
    std::error_code ignored;
    std::filesystem::remove(path + "-journal", ignored);
    std::filesystem::remove(path); // a failure is thrown in place of the schema's error
}

static void applySchema(sql::Connection& connection, const std::string& schema) {
    try {
        connection.execute(schema);
    } catch (const sql::Result& error) {
        throw DatabaseError::sqLiteError(error.what());
    }
}

std::string ScreenDatabase::path() {
    if (std::optional<std::filesystem::path> folder = applicationSupportDirectory()) {
        return (*folder / fileName).string();
    }
    // Never a fixed name in the shared temporary folder: another user could plant it.
    if (std::optional<std::filesystem::path> own = base::privateTemporaryFolder()) {
        return (*own / fallbackFileName).string();
    }
    return {};
}

std::optional<std::string> ScreenDatabase::schemaText() {
    return resourceText(schemaResourceName, schemaResourceType);
}

std::shared_ptr<sql::Connection> ScreenDatabase::create() {
    return create(path(), schemaText());
}

std::shared_ptr<sql::Connection> ScreenDatabase::create(const std::string& path,
                                                        const std::optional<std::string>& schema) {
    // Checked before anything is made, so a missing schema leaves no empty file behind.
    if (!schema) {
        throw DatabaseError::canNotOpenSchemaFile();
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent)) {
        std::filesystem::create_directories(parent);
    }
    const bool existed = std::filesystem::exists(path);
    std::shared_ptr<sql::Connection> connection =
        sql::Connection::open(path, sql::Connection::Access::readWrite);
    try {
        applySchema(*connection, *schema);
    } catch (...) {
        // An empty file would make every later save fail; a file that was there is not ours.
        connection.reset();
        if (!existed) {
            removeHalfMadeFile(path);
        }
        throw;
    }
    return connection;
}

std::shared_ptr<sql::Connection> ScreenDatabase::openForUpdate() {
    return openForUpdate(path(), schemaText());
}

std::shared_ptr<sql::Connection> ScreenDatabase::openForUpdate(const std::string& path,
                                                               const std::optional<std::string>& schema) {
    if (!std::filesystem::exists(path)) {
        return create(path, schema);
    }
    std::shared_ptr<sql::Connection> connection =
        sql::Connection::open(path, sql::Connection::Access::readWrite);
    const std::optional<sql::Binding> tables =
        connection->scalar("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'screens'");
    if (sql::fromBinding<std::int64_t>(tables).value_or(0) == 0) {
        if (!schema) {
            throw DatabaseError::canNotOpenSchemaFile();
        }
        applySchema(*connection, *schema);
    }
    return connection;
}

void ScreenDatabase::save(const ScreenDescription& screen) {
    CW_DCHECK_MAIN_THREAD();
    if (!db) {
        throw DatabaseError::databaseNotOpen();
    }
    const Columns& c = columns();
    const sql::Table& screens = screensTable();
    using sql::Setter;
    db->transaction(sql::TransactionMode::immediate, [&] {
        try {
            db->run(screens.filter(sql::eq(c.displayUUID, screen.displayUUID)).delete_());
        } catch (const std::exception& error) {
            base::log(std::string("can't delete db screen: ") + error.what());
            throw; // inserting now could leave two rows for the display
        }
        db->run(screens.insert(
            Setter::assign(c.displayUUID, screen.displayUUID), Setter::assign(c.nickname, screen.nickname),
            Setter::assign(c.flipH, screen.flipH), Setter::assign(c.flipV, screen.flipV),
            Setter::assign(c.showControls, screen.showControls),
            Setter::assign(c.showTimestamp, screen.showTimestamp),
            Setter::assign(c.showProgress, screen.showProgress),
            Setter::assign(c.textAlignment, std::string(base::rawValue(screen.textAlignment)))));
    });
}

std::optional<ScreenDescription> ScreenDatabase::load(std::string_view displayUUID) const {
    CW_DCHECK_MAIN_THREAD();
    if (!db) {
        throw DatabaseError::databaseNotOpen();
    }
    const Columns& c = columns();
    const std::string uuid(displayUUID);
    for (const sql::Row& row : db->prepare(screensTable().filter(sql::eq(c.displayUUID, uuid)))) {
        // Compared here as well, so a column collation that ignores case cannot widen the match.
        if (row.get(c.displayUUID) != uuid) {
            continue;
        }
        ScreenDescription screen;
        screen.name.clear();
        screen.nickname = row.get(c.nickname);
        screen.displayUUID = row.get(c.displayUUID);
        screen.flipH = row.get(c.flipH);
        screen.flipV = row.get(c.flipV);
        screen.showControls = row.get(c.showControls);
        screen.showTimestamp = row.get(c.showTimestamp);
        screen.showProgress = row.get(c.showProgress);
        screen.textAlignment = base::fromRawValue<TextAlignment>(row.get(c.textAlignment));
        screen.isActive = false;
        return screen;
    }
    return std::nullopt;
}

} // namespace cw
