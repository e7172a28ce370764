#include "cuewright/model/ArchivedText.h"

#include <gtest/gtest.h>

using namespace cw;
using platform::ArchivedColor;
using platform::ArchivedColorSpace;
using platform::Color;

TEST(ArchivedText, ColoursRoundTripThroughTheArchivedForm) {
    for (const Color& c : {Color(0.95, 0.96, 0.9, 1.0), Color(0.01, 0.03, 0.08, 0.5),
                           Color(0.2, 0.4, 0.6, 1.0, Color::Space::genericRGB), Color::gray(0.25, 0.75)}) {
        EXPECT_EQ(colorFromArchived(archivedFromColor(c)), c);
    }
}

TEST(ArchivedText, OtherSpacesAreConvertedAndShortComponentListsDoNotCrash) {
    EXPECT_EQ(colorFromArchived(ArchivedColor{ArchivedColorSpace::deviceCMYK, {0, 0, 1, 0, 1}}),
              Color(1, 1, 0));
    EXPECT_EQ(colorFromArchived(ArchivedColor{ArchivedColorSpace::deviceGray, {0.5}}), Color::gray(0.5, 1));
    EXPECT_EQ(colorFromArchived(ArchivedColor{ArchivedColorSpace::sRGB, {}}), Color(0, 0, 0, 1));
}

TEST(ArchivedText, FontsWithoutAFamilyAreTheSystemFont) {
    EXPECT_EQ(fontFromArchived(platform::ArchivedFont{"", 34, false, false}), platform::Font::systemFont(34));
    const platform::Font bold{"DejaVu Serif", 20, true, false};
    EXPECT_EQ(fontFromArchived(archivedFromFont(bold)), bold);
}
