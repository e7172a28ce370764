// Draws every hand-drawn control in the light and the dark appearance into PNG files, so that
// people and the gallery test can look at them.
//
//     cw_controls_gallery OUTPUT_FOLDER
#include "GalleryRows.h"

#include "platform/ui/Appearance.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <cstdio>

namespace {

struct StyleName {
    platform::AppearanceStyle style;
    const char* suffix;
};

bool drawRow(const cw::gallery::GalleryRow& row, const StyleName& style, const QDir& folder) {
    QWidget window;
    window.setAutoFillBackground(true);
    platform::Appearance::applyToWindow(&window, style.style);
    window.resize(row.size);
    row.make(&window, row.size)->move(0, 0);
    const QString path = folder.filePath(QStringLiteral("%1-%2.png").arg(row.name, style.suffix));
    if (window.grab().save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(".")) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const StyleName styles[] = {{platform::AppearanceStyle::light, "light"},
                                {platform::AppearanceStyle::dark, "dark"}};
    bool ok = true;
    for (const cw::gallery::GalleryRow& row : cw::gallery::galleryRows())
        for (const StyleName& style : styles)
            ok = drawRow(row, style, folder) && ok;
    return ok ? 0 : 1;
}
