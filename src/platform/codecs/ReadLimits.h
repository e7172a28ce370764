// Bounds on what a document reader builds from one file.
#pragma once

#include "platform/codecs/CodecError.h"
#include "platform/codecs/RichDocument.h"

#include <cstddef>
#include <new>
#include <string>

namespace platform::codecs {

// Far above any real script (a long one has a few thousand paragraphs), far below what would
// strain memory: together they keep a reader's own picture of a document to a few hundred MB.
struct ReadLimits {
    std::size_t paragraphs = 1'000'000;
    std::size_t runs = 2'000'000;
    std::size_t characters = std::size_t{64} << 20;
    // Elements and attributes of one XML part, so that its tree stays bounded too (pugixml spends
    // some 50 bytes on each, many times what the markup takes in the file).
    std::size_t markup = 4'000'000;
};

// A RichDocument built within ReadLimits: each addition is counted before it is made, and one
// past a bound throws CodecError, so a hostile file is refused rather than read until memory
// runs out.
class BoundedDocument {
public:
    explicit BoundedDocument(const ReadLimits& limits)
        : limits_(limits) {}

    void startParagraph(ParagraphAlignment alignment = ParagraphAlignment::natural);
    // As RichDocument::append.
    void append(const QString& text, const RunStyle& style);
    // Throws as append would for that many more characters: for a reader to check text it is
    // about to build.
    void checkMoreCharacters(std::size_t count) const;

    RichDocument document;

private:
    ReadLimits limits_;
    std::size_t runs_ = 0;
    std::size_t characters_ = 0;
};

// Throws CodecError saying the document is too large when count passes limit; what names the
// things counted ("paragraphs", "XML elements and attributes", ...).
void checkLimit(std::size_t count, std::size_t limit, const char* what);

// Throws CodecError ("Could not open '<path>'.") unless path names a readable regular file: the
// readers' libraries open files themselves and would wait for ever on a FIFO without a writer.
void requireRegularFile(const std::string& path);

// The message of the CodecError that stands for a failed allocation.
inline constexpr const char* outOfMemoryMessage = "There is not enough memory to open the document.";

// Runs a reader, turning a failed allocation into CodecError: callers handle that one only.
template <class Read> auto withinMemory(Read&& read) -> decltype(read()) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        throw CodecError(outOfMemoryMessage);
    }
}

} // namespace platform::codecs
