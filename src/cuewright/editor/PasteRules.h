// Rich text pasted into the script, restyled to look like the rest of it.
#pragma once

#include "cuewright/model/ScriptImport.h"
#include "platform/text/AttributedString.h"

#include <optional>

namespace cw::editor {

// The pasted characters as an import rebuilds them (ScriptImport::styledText: line ends and
// control characters normalised, the default font with the pasted bold and italic, the default
// colour except where the paste's colours stand out from its main one), at the typing font's
// size. Without a typing font the paste carries no font. Underlined runs get a single underline;
// runs whose underline style is "none" stay without one. Paragraph styles are dropped: the
// paste takes the paragraph it lands in. Every other character stays, U+FFFC too (where a
// script imported from elsewhere had a picture); a reader drops the pictures it meets itself.
platform::AttributedString pastedText(const platform::AttributedString& pasted,
                                      const ScriptImport::DefaultStyle& style,
                                      std::optional<double> typingPointSize);

} // namespace cw::editor
