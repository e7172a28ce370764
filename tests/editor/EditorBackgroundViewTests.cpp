// The editor's background view: indicator and reading-line geometry, the delegate, its painting.
#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/EditorBackgroundView.h"
#include "cuewright/editor/EditorBackgroundViewDelegate.h"
#include "cuewright/model/ScriptProperties.h"
#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/IndicatorShape.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/OverlayView.h"
#include "platform/layers/Layer.h"
#include "platform/ui/Appearance.h"

#include "ScreenshotSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPixmap>

namespace cw {
namespace {

struct CountingDelegate : EditorBackgroundViewDelegate {
    int layouts = 0;
    void editorBackgroundViewDidLayout(EditorBackgroundView&) override { ++layouts; }
};

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 8 && std::abs(a.green() - b.green()) < 8 &&
           std::abs(a.blue() - b.blue()) < 8;
}

TEST(EditorBackgroundView, IndicatorReadingLineAndDelegate) {
    EditorBackgroundView view;
    view.resize(300, 400);
    view.show();            // a hidden widget hears of its resizes only when shown
    view.setLineHeight(20); // a property change: a line-height square at the reading position
    EXPECT_EQ(view.indicatorLayer().frame(), QRectF(4, 190, 20, 20));
    EXPECT_EQ(view.readingLineLayer().frame(), QRectF(20, 200, 260, 1)) << "300 wide: 260 long from x 20";

    auto delegate = std::make_shared<CountingDelegate>();
    view.setDelegate(delegate);
    view.resize(301, 400); // a size change: half the line height, three quarters as wide
    EXPECT_EQ(view.indicatorLayer().frame(), QRectF(4, 195, 7.5, 10));
    EXPECT_EQ(delegate->layouts, 1);
    view.setIgnoreDelegate(true);
    view.resize(320, 400);
    EXPECT_EQ(delegate->layouts, 1) << "ignoreDelegate keeps resizes from the delegate";

    const struct {
        bool shows;
        IndicatorColor colour;
    } lines[] = {{false, IndicatorColor::red}, {true, IndicatorColor::white}, {true, IndicatorColor::blue}};
    for (const auto& l : lines) {
        view.setShowsReadingLine(l.shows);
        view.setIndicatorColor(l.colour);
        EXPECT_EQ(view.readingLineLayer().isHidden(), !l.shows);
        EXPECT_EQ(view.readingLineLayer().backgroundColor(), IndicatorShape::resolvedColor(l.colour));
    }
}

// The view as the editor's controller dresses it: a coloured background, an arrow, a reading line.
void dress(EditorBackgroundView& view, const QColor& background) {
    view.resize(240, 200);
    view.show();
    view.setBackgroundColor(background);
    view.backgroundLayer().setBackgroundColor(background);
    view.setShowsReadingLine(true);
    view.setIndicatorType(IndicatorType::arrow);
    view.setIndicatorColor(IndicatorColor::yellow);
    view.setIndicatorPosition(0.75f);
    view.setLineHeight(40);
}

TEST(EditorBackgroundView, PaintsColourAndIndicator) {
    EditorBackgroundView view;
    dress(view, QColor(0, 0, 160));
    const QImage picture = view.grab().toImage();
    // y-up: the reading position, 0.75 of 200 from the bottom, is row 50 from the top; the
    // one-point line just above it takes row 49.
    EXPECT_TRUE(near(picture.pixelColor(120, 190), QColor(0, 0, 160))) << "background colour";
    EXPECT_TRUE(near(picture.pixelColor(120, 49), Qt::yellow)) << "reading line";
    EXPECT_TRUE(near(picture.pixelColor(12, 50), Qt::yellow)) << "arrow at the left edge";
    EXPECT_TRUE(near(picture.pixelColor(12, 80), QColor(0, 0, 160))) << "nothing below the arrow";
}

TEST(EditorBackgroundView, TakesOnScriptPropertiesOnce) {
    EditorBackgroundView view;
    view.resize(240, 200);
    view.show();
    view.setLineHeight(40);
    DocumentScriptProperties p;
    p.backgroundColor = platform::Color(0, 0, 0.5);
    p.indicatorType = IndicatorType::arrow;
    p.indicatorColor = IndicatorColor::yellow;
    p.indicatorPosition = 0.75f;
    p.showReadingLine = true;
    p.flipHorizontal = p.flipVertical = true;
    view.applyScriptProperties(p);
    QImage picture = view.grab().toImage();
    // Mirrored both ways: the arrow stands at the right edge, the line a quarter from the bottom.
    EXPECT_TRUE(near(picture.pixelColor(227, 150), Qt::yellow)) << "mirrored arrow";
    EXPECT_TRUE(near(picture.pixelColor(12, 49), QColor(0, 0, 128))) << "nothing left where it was";

    const int draws = view.indicatorLayer().displayCount();
    view.applyScriptProperties(p);
    view.grab();
    EXPECT_EQ(view.indicatorLayer().displayCount(), draws) << "the same properties redraw nothing";

    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::green);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    image.save(&png, "PNG");
    p.backgroundImage = std::vector<std::uint8_t>(png.data().begin(), png.data().end());
    p.showBackgroundImage = true;
    view.applyScriptProperties(p);
    EXPECT_TRUE(near(view.grab().toImage().pixelColor(120, 190), Qt::green))
        << "shown image covers the colour";

    OverlayView overlay;
    p.overlayType = OverlayType::fadeOut;
    p.overlayOpacity = 0.5f;
    EditorAppearance::applyScriptProperties(overlay, p, 40);
    EXPECT_EQ(overlay.overlayType(), OverlayType::fadeOut);
    EXPECT_EQ(overlay.overlayLayer().opacity(), 0.5);
    EXPECT_EQ(overlay.gradientColor(), p.backgroundColor.toQColor()) << "the bands fade into the background";
    EXPECT_EQ(overlay.overlayLayer().verticalCenter(), 0.75);
    EXPECT_EQ(overlay.overlayLayer().lineHeight(), 40);
}

TEST(EditorBackgroundView, ScreenshotLightAndDark) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    for (const auto& s : editortest::lightAndDark) {
        EditorBackgroundView view;
        platform::Appearance::applyToWindow(&view, s.style);
        dress(view, QColor(20, 20, 20));
        view.setIndicatorColor(IndicatorColor::green);
        const QString file = folder + "/background-" + s.name + ".png";
        EXPECT_TRUE(view.grab().toImage().save(file)) << s.name;
    }
}

} // namespace
} // namespace cw
