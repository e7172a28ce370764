#include "prompter/PrompterTestSupport.h"

#include "platform/text/Color.h"
#include "platform/text/Font.h"
#include "platform/text/TextAttributes.h"

#include <QCoreApplication>
#include <QDir>
#include <QResizeEvent>

#include <cstdlib>

namespace cwtest {

void resizeView(QWidget& view, int w, int h) {
    const QSize old = view.size();
    view.resize(w, h);
    QResizeEvent event(QSize(w, h), old);
    QCoreApplication::sendEvent(&view, &event);
}

std::unique_ptr<cw::PrompterView> makeView(int w, int h) {
    auto view = std::make_unique<cw::PrompterView>();
    resizeView(*view, w, h);
    return view;
}

platform::AttributedString script(int words, int wordsPerParagraph) {
    static const char* vocabulary[] = {"the",   "presenter", "reads",  "aloud", "while", "script",
                                       "moves", "upwards",   "slowly", "past",  "a",     "steady"};
    QString text;
    for (int i = 0; i < words; ++i) {
        text += QString::fromLatin1(vocabulary[i % 12]);
        if (i + 1 < words) {
            text += (i % wordsPerParagraph == wordsPerParagraph - 1) ? QChar(u'\n') : QChar(u' ');
        }
    }
    platform::Attributes attributes;
    attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 20, false, false};
    attributes.foregroundColor = platform::Color::yellow();
    return platform::AttributedString(text, attributes);
}

QString lines(int count) {
    QString text;
    for (int i = 0; i < count; ++i) {
        text += i == 0 ? QStringLiteral("line") : QStringLiteral("\nline");
    }
    return text;
}

std::vector<platform::TypesetLine> FixedHeightTypesetter::typeset(const platform::AttributedString& text,
                                                                  double /*width*/) const {
    std::vector<platform::TypesetLine> lines;
    const QString& s = text.string();
    int start = 0;
    std::size_t i = 0;
    while (start < s.size()) {
        int end = start;
        while (end < s.size() && s[end] != u'\n') {
            ++end;
        }
        const int terminator = end < s.size() ? 1 : 0;
        platform::TypesetLine line;
        line.range = {start, end - start + terminator};
        line.height = heights_[i++ % heights_.size()];
        line.ascent = line.height;
        lines.push_back(line);
        start = end + terminator;
    }
    return lines;
}

void saveImage(const QImage& image, const char* name) {
    const char* dir = std::getenv("CW_TEST_OUTPUT_DIR");
    if (dir == nullptr) {
        return;
    }
    const QString folder = QString::fromLocal8Bit(dir) + QStringLiteral("/prompter");
    QDir().mkpath(folder);
    image.save(folder + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".png"));
}

int brightPixels(const QImage& image, const QRect& rect, int threshold) {
    int count = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::max({c.red(), c.green(), c.blue()}) > threshold) {
                ++count;
            }
        }
    }
    return count;
}

} // namespace cwtest
