// Helpers for the prompter tests: views of a given size, scripts, fake typesetting, images.
#pragma once

#include "cuewright/prompter/PrompterView.h"
#include "platform/text/AttributedString.h"
#include "platform/text/Typesetter.h"

#include <QImage>

#include <memory>
#include <vector>

namespace cwtest {

// A view of w × h points that was never shown (no window: contents scale 1).
std::unique_ptr<cw::PrompterView> makeView(int w, int h);
void resizeView(cw::PrompterView& view, int w, int h);

// `words` words in yellow, a paragraph every `wordsPerParagraph` words.
platform::AttributedString script(int words, int wordsPerParagraph = 40);

// One line per paragraph, the heights taken in turn from `heights`.
class FixedHeightTypesetter final : public platform::Typesetter {
public:
    explicit FixedHeightTypesetter(std::vector<double> heights)
        : heights_(std::move(heights)) {}
    std::vector<platform::TypesetLine> typeset(const platform::AttributedString& text,
                                               double width) const override;

private:
    std::vector<double> heights_;
};

// Writes the image as $CW_TEST_OUTPUT_DIR/prompter/<name>.png (nothing without the variable).
void saveImage(const QImage& image, const char* name);

// Pixels brighter than `threshold` (max component) inside `rect` (image pixels, y down).
int brightPixels(const QImage& image, const QRect& rect, int threshold = 100);

} // namespace cwtest
