#include "platform/codecs/ReadLimits.h"

#include "base/RegularFile.h"

#include <string>

namespace platform::codecs {

void checkLimit(std::size_t count, std::size_t limit, const char* what) {
    if (count > limit)
        throw CodecError("The document is too large to open: it holds more than " + std::to_string(limit) +
                         " " + what + ".");
}

void requireRegularFile(const std::string& path) {
    try {
        base::requireRegularFile(path);
    } catch (const base::RegularFileError&) {
        throw CodecError("Could not open '" + path + "'.");
    }
}

void BoundedDocument::startParagraph(ParagraphAlignment alignment) {
    checkLimit(document.paragraphs.size() + 1, limits_.paragraphs, "paragraphs");
    document.startParagraph(alignment);
}

void BoundedDocument::checkMoreCharacters(std::size_t count) const {
    checkLimit(characters_ + count, limits_.characters, "characters");
}

void BoundedDocument::append(const QString& text, const RunStyle& style) {
    checkMoreCharacters(static_cast<std::size_t>(text.size()));
    characters_ += static_cast<std::size_t>(text.size());
    // At most one new run (and paragraph); counted before the append may allocate.
    checkLimit(runs_ + 1, limits_.runs, "runs of text");
    if (document.paragraphs.empty())
        startParagraph();
    const std::size_t before = document.paragraphs.back().runs.size();
    document.append(text, style);
    runs_ += document.paragraphs.back().runs.size() - before;
}

} // namespace platform::codecs
