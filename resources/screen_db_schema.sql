-- The display database: the prompter settings of every display whose settings were ever saved,
-- one row per display, keyed by the display's UUID (compared case-sensitively).
CREATE TABLE IF NOT EXISTS screens (
    display_uuid TEXT NOT NULL PRIMARY KEY,
    name TEXT,
    flip_h INTEGER NOT NULL DEFAULT 0,
    flip_v INTEGER NOT NULL DEFAULT 0,
    show_controls INTEGER NOT NULL DEFAULT 1,
    show_timestamp INTEGER NOT NULL DEFAULT 1,
    show_progress INTEGER NOT NULL DEFAULT 1,
    text_alignment TEXT NOT NULL DEFAULT 'center'
);
