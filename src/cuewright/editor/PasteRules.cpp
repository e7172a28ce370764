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
