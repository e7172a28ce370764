// Helpers for the prompter tests: views of a given size, scripts, fake typesetting, images.
#pragma once

#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "platform/text/AttributedString.h"
#include "platform/text/Typesetter.h"

#include <QImage>

#include <memory>
#include <string>
#include <vector>

namespace cwtest {

// A view of w × h points that was never shown (no window: contents scale 1).
std::unique_ptr<cw::PrompterView> makeView(int w, int h);
// Resizes and delivers the resize event at once, as a shown window would.
void resizeView(QWidget& view, int w, int h);

// `words` words in yellow, a paragraph every `wordsPerParagraph` words.
platform::AttributedString script(int words, int wordsPerParagraph = 40);
// `count` lines reading "line".
QString lines(int count);

// Records what the view asks for, in order, as short texts.
class RecordingDelegate : public cw::PrompterViewDelegate {
public:
    void prompterViewDidChangeTransportState(cw::PrompterView& view) override {
        calls.push_back(view.transportState().isPlaying() ? "play" : "pause");
    }
    void prompterViewDidRequestRewind(cw::PrompterView&) override { calls.push_back("rewind"); }
    void prompterViewDidChangeSpeed(cw::PrompterView&, double percent) override {
        calls.push_back(speed(percent));
    }
    void prompterViewDidScroll(cw::PrompterView&, double) override { calls.push_back("wheel"); }
    void prompterViewRequestsScroll(cw::PrompterView&, double progress) override {
        calls.push_back("scroll");
        targets.push_back(progress);
    }
    void prompterViewDidChangeFastForward(cw::PrompterView&, double f) override {
        calls.push_back(factor(f));
    }
    void prompterViewDidRequestNextBookmark(cw::PrompterView&) override { calls.push_back("next"); }
    void prompterViewDidRequestPreviousBookmark(cw::PrompterView&) override { calls.push_back("previous"); }

    static std::string factor(double f) { return "factor " + std::to_string(f); }
    static std::string speed(double p) { return "speed " + std::to_string(p); }

    std::vector<std::string> calls;
    std::vector<double> targets;
};

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
