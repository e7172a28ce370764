// Rebuilding the text of an imported file in the prompter's own style.
#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/Color.h"
#include "platform/text/Font.h"
#include "platform/text/ParagraphStyle.h"

#include <QString>

#include <atomic>
#include <optional>
#include <string>

namespace platform {
class Defaults;
}

namespace cw::ScriptImport {

// What every imported character starts with.
struct DefaultStyle {
    platform::Font font;
    platform::Color textColor;
    platform::ParagraphStyle paragraphStyle; // centred, all else the default

    // "defaultFont" (system font of 34 pt when absent) and "defaultTextColor" (yellow).
    static DefaultStyle fromUserDefaults(const platform::Defaults& defaults);
};

// The characters alone, in the default style: what a plain-text file becomes. Here and in
// styledText() line ends and control characters come in as TextUtils::scriptText() makes them.
platform::AttributedString plainText(const QString& text, const DefaultStyle& style);

// The source's characters in the default style, keeping only:
//  - underline styles, as they are;
//  - foreground colours, except that the source's main colour becomes the default text colour.
//    The main colour is the colour of most characters when coloured characters are at least as
//    many as uncoloured ones; otherwise it is the default text colour itself;
//  - bold and italic: a run with a font gets the default font with those traits added.
// Font families and sizes, paragraph formats, backgrounds, links and bookmarks are dropped.
platform::AttributedString styledText(const platform::AttributedString& source, const DefaultStyle& style);

// How far a read has come, and whether it should stop: written by the reading thread, read and
// cancelled from any other.
struct ReadProgress {
    std::atomic<qint64> bytesRead{0};
    std::atomic<bool> cancelled{false};
};

// A plain-text file read in pieces, decoded strictly and made plainText(): what opening it makes,
// on any thread, stopping soon after `progress` is cancelled. Nullopt when it was cancelled or
// could not be read or decoded (opening it the usual way then says why).
std::optional<platform::AttributedString> readPlainTextFile(const QString& path, const DefaultStyle& style,
                                                            ReadProgress& progress);

// The file read and restyled as opening it makes it, chosen by its lower-cased extension
// ("txt", "text", "rtf", "rtfd", "docx", "doc", "pdf"), on any thread; only plain text tells its
// progress, and plain text, DOC and PDF stop early when cancelled (a PDF within the page being read). A
// rich-text, DOCX or DOC file that cannot be read throws as readDocumentFile() does.
// Nullopt when it was cancelled, a plain text or PDF could not be read (opening it the usual way then says
// why) or the extension is another. `notice` (when given) gets what the window should say about how the file
// was read (endedEarlyNotice() for a rich-text file that ends early), or stays empty.
std::optional<platform::AttributedString> readFile(const QString& path, const std::string& extension,
                                                   const DefaultStyle& style, ReadProgress& progress,
                                                   QString* notice = nullptr);

// Whether readFile() found the PDF at `path` unreadable and it is still the file it read then:
// opening it the usual way says why at once instead of reading it a second time. Told once per
// failed read; thread-safe. A read that was cancelled leaves nothing to tell.
bool takeUnreadablePdf(const std::string& path);

// The source text of a rich-text ("rtf", "rtfd"), DOCX or DOC file at `path` (the file system's
// bytes), as the platform's reader gives it, on any thread; `notice` as readFile() sets it, and a
// DOC read stops early once `cancelled`. Throws ProjectError::couldNotOpen naming the file and why
// when the reader gives no text (missing, not a file, not of its kind, damaged, cancelled): such a
// file is refused as any other unreadable file is, never opened as a script of its error.
platform::AttributedString readDocumentFile(const std::string& path, const std::string& extension,
                                            QString* notice = nullptr,
                                            const std::atomic<bool>* cancelled = nullptr);

// What the window of a rich-text file that ends early says (the file system's bytes of `path`),
// and the log line of it.
QString endedEarlyNotice(const std::string& path);

} // namespace cw::ScriptImport
