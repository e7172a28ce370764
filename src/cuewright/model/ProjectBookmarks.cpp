// Gathering the script's bookmarks and jumping between them.
#include "cuewright/model/Project.h"

#include "dispatch/MainThreadChecker.h"
#include "platform/text/TextAttributes.h"

#include <algorithm>
#include <cmath>

namespace cw {

namespace {

// The line's characters, clipped to the text: the editor's line table may lag behind an edit.
QString lineText(const QString& text, platform::TextRange range) {
    const int start = std::clamp(range.location, 0, int(text.size()));
    const int end = std::clamp(range.end(), start, int(text.size()));
    return text.mid(start, end - start);
}

// The entry whose range holds `location`; the last one wins when several do.
const Editor::LineRange* lineAt(const std::vector<Editor::LineRange>& lines, int location) {
    const Editor::LineRange* found = nullptr;
    for (const auto& line : lines) {
        if (line.range.contains(location)) {
            found = &line;
        }
    }
    return found;
}

// Where the reading position stands just inside a bookmark's line.
double progressOfLine(int line, int lineCount) {
    return (line - 1 + 0.155) / lineCount;
}

} // namespace

std::vector<Bookmark> Project::bookmarks() {
    CW_DCHECK_MAIN_THREAD();
    // Text and line table must be of one moment: an editor hands over an edit it still holds.
    eventListeners_.notifyAndWait([this](ProjectEventListener& l) { l.projectWillGatherBookmarks(*this); });
    const int lineCount = editor_.lineCount;
    const double duration = runningTime();
    // Without lines there is no time into the script to place a bookmark at.
    auto timestampOf = [&](int line) {
        return lineCount > 0 ? double(line - 1) / lineCount * duration : 0.0;
    };
    const QString& text = document_.text.string();
    std::vector<Bookmark> result;

    for (const auto& run :
         document_.text.runs(platform::CuewrightBookmarkAttributeName, document_.text.fullRange())) {
        if (!run.value.canConvert<platform::EmbeddedBookmarkPtr>()) {
            continue;
        }
        const auto object = run.value.value<platform::EmbeddedBookmarkPtr>();
        if (!object) {
            continue;
        }
        Bookmark bookmark;
        bookmark.id = object->id.toStdString();
        bookmark.location = run.range.location;
        if (const auto* line = lineAt(editor_.lineRanges, run.range.location)) {
            bookmark.line = line->lineNum;
            bookmark.timestamp = timestampOf(line->lineNum);
            bookmark.excerpt = lineText(text, line->range).trimmed().toStdString();
        }
        bookmark.userBlurb = object->userBlurb.toStdString();
        bookmark.sortOrder = object->sortOrder;
        result.push_back(std::move(bookmark));
    }

    const size_t embedded = result.size();
    const auto hasEmbedded = [&](int lineNum) {
        return std::any_of(result.begin(), result.begin() + std::ptrdiff_t(embedded),
                           [&](const Bookmark& b) { return b.line == lineNum; });
    };
    for (const auto& line : editor_.lineRanges) {
        // Only a "*" line is copied: a long text has many lines and few bookmarks. A "*" line
        // given a note carries it as an embedded bookmark: still one bookmark.
        const int start = std::clamp(line.range.location, 0, int(text.size()));
        if (start >= std::min(line.range.end(), int(text.size())) || text[start] != u'*' ||
            hasEmbedded(line.lineNum)) {
            continue;
        }
        const QString lineString = lineText(text, line.range);
        Bookmark bookmark;
        bookmark.id = "custom.bookmark@" + std::to_string(line.lineNum) + ":{" +
                      std::to_string(line.range.location) + ", " + std::to_string(line.range.length) + "}";
        bookmark.location = line.range.location;
        bookmark.line = line.lineNum;
        bookmark.timestamp = timestampOf(line.lineNum);
        bookmark.excerpt = lineString.trimmed().toStdString();
        result.push_back(std::move(bookmark));
    }

    std::stable_sort(result.begin(), result.end(),
                     [](const Bookmark& a, const Bookmark& b) { return a.line < b.line; });
    return result;
}

void Project::jumpToNextBookmark() {
    CW_DCHECK_MAIN_THREAD();
    const auto all = bookmarks(); // first: it may hand a pending edit over
    const int lineCount = editor_.lineCount;
    if (lineCount <= 0) {
        return; // no line to stand on, and no progress to compute
    }
    const double progress = transportState().progress;
    const int current = int(std::trunc(progress * lineCount - 0.15)) + 1;
    const int from = std::min(lineCount, current);
    for (const auto& bookmark : all) {
        if (bookmark.line > from) {
            setProgress(progressOfLine(bookmark.line, lineCount), /*animated=*/false, /*immediate=*/true);
            return;
        }
    }
}

void Project::jumpToPreviousBookmark() {
    CW_DCHECK_MAIN_THREAD();
    const auto all = bookmarks();
    const int lineCount = editor_.lineCount;
    if (lineCount <= 0) {
        return;
    }
    const double position = transportState().progress * lineCount - 0.15 + 1;
    const double from = std::min(position, double(lineCount));
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (from - it->line > 0.3) {
            setProgress(progressOfLine(it->line, lineCount), /*animated=*/false, /*immediate=*/true);
            return;
        }
    }
}

} // namespace cw
