-- The script document ("cwr"), format version 1. Every save runs this on a fresh file.
-- Declared types keep each value in the storage class it is written with: REAL for every
-- floating value, INTEGER for whole numbers and Booleans, TEXT for strings, BLOB for bytes.

CREATE TABLE "metainfo" (
    "version" INTEGER,
    "last_update" INTEGER
);

CREATE TABLE "properties" (
    "background_color" BLOB,
    "background_image" BLOB,
    "background_image_opacity" REAL,
    "playback_speed" REAL,
    "min_speed" REAL,
    "max_speed" REAL,
    "show_bg_image" INTEGER,
    "flip_h" INTEGER,
    "flip_v" INTEGER,
    "prompter_margin" REAL,
    "prompter_margin_alignment" REAL,
    "prompter_word_count_factor" REAL,
    "indicator_type" TEXT,
    "indicator_size" TEXT,
    "indicator_color" TEXT,
    "indicator_position" REAL,
    "overlay_type" TEXT,
    "overlay_opacity" REAL,
    "text_alignment" TEXT,
    "show_reading_line" INTEGER
);

CREATE TABLE "texts" (
    "contents" TEXT,
    "binary_contents" BLOB
);

-- "user_blurb" holds the bookmark's own note; files without the column read "blurb" instead.
CREATE TABLE "bookmarks" (
    "id" INTEGER PRIMARY KEY,
    "location" INTEGER,
    "length" INTEGER,
    "blurb" TEXT,
    "timestamp" REAL,
    "type" INTEGER,
    "scrollSpeed" REAL,
    "sortOrder" INTEGER,
    "user_blurb" TEXT
);
