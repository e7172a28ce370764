#include "cuewright/editor/PasteRules.h"

#include "platform/text/TextAttributes.h"

namespace cw::editor {

platform::AttributedString pastedText(const platform::AttributedString& pasted,
                                      const ScriptImport::DefaultStyle& style,
                                      std::optional<double> typingPointSize) {
    ScriptImport::DefaultStyle sized = style;
    if (typingPointSize) {
        sized.font = style.font.withPointSize(*typingPointSize);
    }
    platform::AttributedString result = ScriptImport::styledText(pasted, sized);
    // An image or other object stands in the text as one invisible character that would count as
    // a word: the script keeps text alone.
    const QString& characters = result.string();
    for (int at = int(characters.size()) - 1; at >= 0; --at) {
        if (characters.at(at) == QChar::ObjectReplacementCharacter) {
            result.deleteCharacters({at, 1});
        }
    }
    if (result.isEmpty()) {
        return result;
    }
    result.modifyAttributes(result.fullRange(), [&](platform::Attributes& attributes) {
        attributes.paragraphStyle.reset();
        if (!typingPointSize) {
            attributes.font.reset();
        }
        if (attributes.underlineStyle) {
            // Only the line-style byte draws a line; a pattern or "by word" alone is no underline.
            if ((*attributes.underlineStyle & 0xff) == platform::UnderlineStyle::none) {
                attributes.underlineStyle.reset();
            } else {
                attributes.underlineStyle = platform::UnderlineStyle::single;
            }
        }
    });
    return result;
}

} // namespace cw::editor
