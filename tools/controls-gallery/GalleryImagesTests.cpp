// Runs the gallery offscreen and checks that each control's colours are where it draws them.
#include "cuewright/controls/ButtonLabel.h"
#include "cuewright/controls/LabeledDivider.h"
#include "platform/ui/Appearance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QProcess>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

using cw::controls::accentColor;

int distance(QColor a, QColor b) {
    return std::max(
        {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// Pixels that stand out from `background` in `area`: their bounds and the strongest of them.
struct Ink {
    QRect bounds;
    QColor strongest;
    int rowCount(const QImage& image, int y, QColor background) const {
        int count = 0;
        for (int x = bounds.left(); x <= bounds.right(); ++x)
            count += distance(image.pixelColor(x, y), background) > threshold;
        return count;
    }
    static constexpr int threshold = 60;
};

Ink inkOf(const QImage& image, QColor background, QRect area) {
    Ink ink;
    int strongest = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int d = distance(pixel, background);
            if (d <= Ink::threshold)
                continue;
            ink.bounds |= QRect(x, y, 1, 1);
            if (d > strongest) {
                strongest = d;
                ink.strongest = pixel;
            }
        }
    return ink;
}

constexpr int tolerance = 48;

void expectCentred(const Ink& ink, const QImage& image) {
    EXPECT_LE(std::abs(ink.bounds.left() + ink.bounds.right() + 1 - image.width()), 4)
        << ink.bounds.left() << ".." << ink.bounds.right();
}

// Title left at the margin, above the bottom line, which has the grid colour end to end.
void checkDivider(const QImage& image, const QPalette& palette) {
    const int bottom = image.height() - 1;
    const QColor grid = cw::controls::LabeledDivider::gridColor(palette);
    for (int x = 0; x < image.width(); ++x)
        ASSERT_EQ(image.pixelColor(x, bottom), grid) << x;
    const Ink ink = inkOf(image, palette.color(QPalette::Window), QRect(0, 0, image.width(), bottom));
    ASSERT_FALSE(ink.bounds.isEmpty());
    EXPECT_GE(ink.bounds.left(), 10);
    EXPECT_LT(ink.bounds.left(), 14);
    EXPECT_LE(distance(ink.strongest, palette.color(QPalette::WindowText)), tolerance)
        << qPrintable(ink.strongest.name());
}

// Right-aligned label colour, two pixels below the top.
void checkLabelButton(const QImage& image, const QPalette& palette) {
    const Ink ink = inkOf(image, palette.color(QPalette::Window), image.rect());
    ASSERT_FALSE(ink.bounds.isEmpty());
    EXPECT_GE(ink.bounds.right(), image.width() - 4);
    EXPECT_GT(ink.bounds.left(), image.width() / 3);
    EXPECT_GE(ink.bounds.top(), 2);
    EXPECT_LE(distance(ink.strongest, palette.color(QPalette::WindowText)), tolerance)
        << qPrintable(ink.strongest.name());
}

// Centred link colour with an underline across the whole text.
void checkLinkLabel(const QImage& image, const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const Ink ink = inkOf(image, window, image.rect());
    ASSERT_FALSE(ink.bounds.isEmpty());
    expectCentred(ink, image);
    EXPECT_LE(distance(ink.strongest, palette.color(QPalette::Link)), tolerance)
        << qPrintable(ink.strongest.name());
    int longestRow = 0;
    for (int y = ink.bounds.top(); y <= ink.bounds.bottom(); ++y)
        longestRow = std::max(longestRow, ink.rowCount(image, y, window));
    EXPECT_GE(longestRow, ink.bounds.width() * 9 / 10);
}

// Centred accent colour, the same in both appearances.
void checkButtonLabel(const QImage& image, const QPalette& palette) {
    const Ink ink = inkOf(image, palette.color(QPalette::Window), image.rect());
    ASSERT_FALSE(ink.bounds.isEmpty());
    expectCentred(ink, image);
    EXPECT_LE(distance(ink.strongest, accentColor()), tolerance) << qPrintable(ink.strongest.name());
}

// An accent body with rounded corners and white text, centred, half the font size down.
void checkProminentButton(const QImage& image, const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const QColor corner = image.pixelColor(0, 0);
    EXPECT_LT(distance(corner, window), distance(corner, accentColor())) << qPrintable(corner.name());
    EXPECT_LE(distance(image.pixelColor(image.width() / 2, 1), accentColor()), 1);
    EXPECT_LE(distance(image.pixelColor(1, image.height() / 2), accentColor()), 1);
    const Ink ink = inkOf(image, accentColor(), image.rect().adjusted(4, 4, -4, -4));
    ASSERT_FALSE(ink.bounds.isEmpty());
    expectCentred(ink, image);
    EXPECT_GE(ink.bounds.top(), 17 / 2);
    EXPECT_EQ(ink.strongest, QColor(Qt::white));
}

// The well's colour fills its square (x 1 to 36 of 60) and stops before the panel button.
void checkColorWell(const QImage& image, QColor color) {
    for (const int x : {2, 18, 35})
        EXPECT_EQ(image.pixelColor(x, image.height() / 2), color) << x;
    EXPECT_GT(distance(image.pixelColor(48, image.height() / 2), color), tolerance);
}

// Something is drawn across most of the control's width (track and ticks, or the three fields).
void checkDrawnAcross(const QImage& image, const QPalette& palette) {
    const Ink ink = inkOf(image, palette.color(QPalette::Window), image.rect());
    ASSERT_FALSE(ink.bounds.isEmpty());
    EXPECT_GE(ink.bounds.width(), image.width() * 3 / 4);
}

TEST(ControlsGallery, EveryControlHasItsColoursWhereItDrawsThem) {
    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    const QDir folder(QString::fromLocal8Bit(root ? root : "test-output") + "/controls");
    QProcess gallery;
    gallery.setProcessChannelMode(QProcess::ForwardedChannels);
    gallery.start(CW_GALLERY_PROGRAM, {folder.path()});
    ASSERT_TRUE(gallery.waitForFinished(-1));
    ASSERT_EQ(gallery.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(gallery.exitCode(), 0);

    struct Row {
        const char* name;
        std::function<void(const QImage&, const QPalette&)> check;
    };
    const Row rows[] = {
        {"labeled-divider", checkDivider},
        {"actionable-label-divider", checkDivider},
        {"label-button", checkLabelButton},
        {"link-label", checkLinkLabel},
        {"button-label", checkButtonLabel},
        {"prominent-button", checkProminentButton},
        {"color-well", [](const QImage& image, const QPalette&) { checkColorWell(image, Qt::red); }},
        {"prompter-color-well",
         [](const QImage& image, const QPalette&) { checkColorWell(image, Qt::blue); }},
        {"normal-slider", checkDrawnAcross},
        {"range-slider", checkDrawnAcross},
        {"time-control", checkDrawnAcross},
    };
    const std::pair<const char*, QPalette> styles[] = {{"light", platform::lightPalette()},
                                                       {"dark", platform::darkPalette()}};
    for (const Row& row : rows)
        for (const auto& [suffix, palette] : styles) {
            const QString file = folder.filePath(QStringLiteral("%1-%2.png").arg(row.name, suffix));
            SCOPED_TRACE(file.toStdString());
            const QImage image(file);
            ASSERT_FALSE(image.isNull());
            row.check(image.convertToFormat(QImage::Format_RGB32), palette);
        }
}

} // namespace
