// Opens a prompter window on a real X server, plays a sample script for a few seconds and saves
// what the screen shows at the start and later, for a person to look at. Exits 0 when the text
// moved up between the two pictures, 1 when it did not, 77 (skipped) without an X server.
#include "cuewright/model/Project.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewController.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "platform/text/AttributedString.h"
#include "platform/text/Color.h"
#include "platform/text/Font.h"
#include "platform/text/TextAttributes.h"
#include "platform/ui/MainQueueBridge.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

namespace {

platform::AttributedString sampleScript() {
    QString text;
    const char* paragraphs[] = {
        "Good evening, and welcome to the show.",
        "Tonight we look at how a script travels from the writer's desk to the presenter's eyes.",
        "The prompter scrolls the text upwards at a steady pace, line by line, so that the reader never "
        "has to look away from the camera.",
        "Speed is set in lines per second and can be changed at any moment with the keyboard, the mouse "
        "or a remote.",
        "Bookmarks mark the places to jump to, and the reading indicator shows where the eyes should rest.",
        "That is all for tonight. Thank you for watching, and good night.",
    };
    for (int round = 0; round < 3; ++round) {
        for (const char* p : paragraphs) {
            text += QString::fromUtf8(p) + QChar(u'\n');
        }
    }
    platform::Attributes attributes;
    attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 34, false, false};
    attributes.foregroundColor = platform::Color::yellow();
    return platform::AttributedString(text, attributes);
}

void runFor(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// The row of the first bright text pixel from the top in the window's middle third; -1 when none.
int firstTextRow(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = image.width() / 3; x < 2 * image.width() / 3; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() > 150 && c.blue() < 100) {
                return y;
            }
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "no DISPLAY: skipped\n");
        return 77;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    platform::installMainQueueBridge();
    cw::registerUserDefaults();

    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    const QString outputDir =
        QString::fromUtf8(root && *root ? root : "build/debug/test-output") + "/prompter";
    QDir().mkpath(outputDir);

    auto project = cw::Project::create();
    project->setText(sampleScript());
    project->setScrollSpeed(100, 0.1, 3.0); // 3 lines a second: a visible move in a few seconds

    auto window = cw::PrompterWindowController::create(project, cw::TeleprompterWindowPreset::normal);
    window->window()->resize(1280, 800);
    window->showWindow();
    window->window()->move(40, 40);
    runFor(1500);
    // Until an editor counts them, the prompter's own lines give the script its running time.
    window->prompterViewController()->publishLineMetrics();
    runFor(300);

    QScreen* screen = window->window()->screen();
    const QImage start = screen->grabWindow(window->window()->winId()).toImage();
    project->play();
    runFor(3000);
    project->pause();
    runFor(300);
    const QImage later = screen->grabWindow(window->window()->winId()).toImage();

    const QString startPath = outputDir + "/screenshot-start.png";
    const QString laterPath = outputDir + "/screenshot-after-3s.png";
    start.save(startPath);
    later.save(laterPath);
    const int startRow = firstTextRow(start);
    const int laterRow = firstTextRow(later);
    std::printf("saved %s and %s; progress %.3f; first text row %d then %d\n", qPrintable(startPath),
                qPrintable(laterPath), project->transportState().progress, startRow, laterRow);
    window->close();
    const bool moved = start != later && project->transportState().progress > 0 && laterRow < startRow;
    return moved ? 0 : 1;
}
