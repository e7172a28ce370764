#include "cuewright/editor/ScriptPrinting.h"

#include "cuewright/editor/ProgressWindow.h"
#include "cuewright/model/ScriptExporter.h"
#include "cuewright/model/TextUtils.h"
#include "dispatch/MainThreadChecker.h"
#include "dispatch/Queue.h"
#include "platform/text/ParagraphLines.h"
#include "platform/text/ParagraphStyle.h"
#include "platform/text/QtTextFormat.h"

#include <QApplication>
#include <QFont>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <QTextLayout>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace cw::editor {

namespace {

// A line that reaches the end of a window this long is cut there: only a storm of combining marks
// on one letter makes a line that holds so many characters.
constexpr int maxWindowCharacters = 1 << 16;

// Deals laid-out lines out to pages, each whole on the first page with room for it.
class PageDealer {
public:
    PageDealer(QPagedPaintDevice& device, QPainter& painter, double pageHeight)
        : device_(device)
        , painter_(painter)
        , pageHeight_(pageHeight) {}

    // Draws `line` of a layout whose top is at `layoutTop` in the column, `indent` from its left.
    void draw(const QTextLine& line, double indent, double layoutTop) {
        const double top = layoutTop + line.y();
        if (top > pageTop_ && top + line.height() - pageTop_ > pageHeight_) {
            device_.newPage();
            pageTop_ = top;
        }
        line.draw(&painter_, QPointF(indent, layoutTop - pageTop_));
    }

private:
    QPagedPaintDevice& device_;
    QPainter& painter_;
    double pageHeight_;
    double pageTop_ = 0; // where the page being drawn begins in the column
};

// One paragraph's layouts, a window at a time.
class ParagraphPrinter {
public:
    ParagraphPrinter(const platform::AttributedString& text, const QFont& font, const QPaintDevice& device,
                     double pageWidth, double perPoint, PageDealer& dealer)
        : text_(text)
        , font_(font)
        , device_(device)
        , pageWidth_(pageWidth)
        , perPoint_(perPoint)
        , dealer_(dealer) {}

    // Draws the paragraph `content` from the column's `top`; returns where the next one starts, or
    // none when cancelled.
    std::optional<double> print(platform::TextRange content, int terminator, double top,
                                PagePrinter::Progress* progress) {
        // The font and paragraph style of an empty paragraph are those of its terminator.
        const platform::Attributes first = text_.attributes(content.location);
        const platform::ParagraphStyle style = first.paragraphStyle.value_or(platform::ParagraphStyle());
        option_ = platform::toTextOption(style);
        option_.setUseDesignMetrics(true);
        // Tabs stop where the editor's do: Qt's own distance, 80 of the script's points. Qt reads
        // it in pixels of a 96 dpi screen and scales it to the device itself (scaled here as well,
        // a tab once ran to the page's right edge).
        if (option_.textDirection() == Qt::LayoutDirectionAuto) {
            // Each window would otherwise take its direction from its own first letters.
            const bool rightToLeft =
                QStringView(text_.string()).mid(content.location, content.length).isRightToLeft();
            option_.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        }
        const double indent = std::max(0.0, style.headIndent) * perPoint_;
        const double width = std::max(perPoint_, pageWidth_ - indent);
        top += std::max(0.0, style.paragraphSpacingBefore) * perPoint_;

        int start = content.location;
        int window = PagePrinter::windowCharacters;
        for (;;) {
            if (progress && progress->cancelled.load(std::memory_order_relaxed)) {
                return std::nullopt;
            }
            const int end = std::min(content.end(), start + window);
            const bool last = end == content.end();
            std::vector<platform::TypesetLine> lines;
            std::vector<Part> parts;
            starts_.clear();
            platform::breakParagraphIntoLines(
                [this](platform::TextRange range) { return make(range); }, text_.string(),
                {start, end - start}, 0, width, lines,
                [&](std::unique_ptr<QTextLayout> layout, double partTop, double) {
                    const int partStart = starts_.at(layout.get());
                    parts.push_back({std::move(layout), partStart, partTop});
                });
            // The line that reaches the window's end may go on past it: laid out again next time.
            int next = end;
            if (!last && lines.size() > 1) {
                next = lines.back().range.location;
            } else if (!last && window < maxWindowCharacters) {
                window *= 4;
                continue;
            }
            double drawnHeight = 0;
            for (const Part& part : parts) {
                for (int i = 0; i < part.layout->lineCount(); ++i) {
                    const QTextLine line = part.layout->lineAt(i);
                    if (part.start + line.textStart() >= next && line.textLength() > 0) {
                        break;
                    }
                    dealer_.draw(line, indent, top + part.top);
                    drawnHeight = std::max(drawnHeight, part.top + line.y() + line.height());
                }
            }
            top += keptHeight(parts, next, drawnHeight);
            if (progress) {
                progress->drawn.fetch_add(next - start + (last ? terminator : 0), std::memory_order_relaxed);
            }
            if (last) {
                return top + std::max(0.0, style.paragraphSpacing) * perPoint_;
            }
            start = next;
            window = PagePrinter::windowCharacters;
        }
    }

private:
    struct Part {
        std::unique_ptr<QTextLayout> layout;
        int start;  // its first character in the text
        double top; // from the window's top
    };

    std::unique_ptr<QTextLayout> make(platform::TextRange range) {
        auto layout =
            std::make_unique<QTextLayout>(text_.string().mid(range.location, range.length), font_, &device_);
        layout->setTextOption(option_);
        if (range.length > 0) {
            layout->setFormats(platform::formatRanges(text_, range));
        }
        starts_[layout.get()] = range.location;
        return layout;
    }

    // How far down the window the next one starts: at the top of the first line left for it.
    static double keptHeight(const std::vector<Part>& parts, int next, double drawnHeight) {
        for (const Part& part : parts) {
            for (int i = 0; i < part.layout->lineCount(); ++i) {
                const QTextLine line = part.layout->lineAt(i);
                if (part.start + line.textStart() >= next && line.textLength() > 0) {
                    return part.top + line.y();
                }
            }
        }
        return drawnHeight;
    }

    const platform::AttributedString& text_;
    const QFont& font_;
    const QPaintDevice& device_;
    double pageWidth_;
    double perPoint_;
    PageDealer& dealer_;
    QTextOption option_;
    std::map<const QTextLayout*, int> starts_;
};

} // namespace

double PagePrinter::Progress::fraction() const {
    const std::int64_t all = total.load(std::memory_order_relaxed);
    if (all <= 0) {
        return all == 0 ? 1.0 : 0.0;
    }
    return std::clamp(double(drawn.load(std::memory_order_relaxed)) / double(all), 0.0, 1.0);
}

platform::AttributedString PagePrinter::printedText(const platform::AttributedString& script,
                                                    double pointSize) {
    return TextUtils::applyFontAndParagraphStyle(ScriptExporter::docxText(script), pointSize);
}

bool PagePrinter::draw(const platform::AttributedString& text, QPagedPaintDevice& device, int resolution,
                       double pointSize, Progress* progress) {
    if (progress) {
        progress->total.store(text.length());
    }
    QPainter painter(&device);
    if (!painter.isActive()) {
        return true; // nothing can be drawn: the device said why
    }
    painter.setPen(Qt::black);
    // Laid out at the device's resolution: the page's size is in its pixels.
    QFont font;
    font.setPointSizeF(pointSize); // for runs without a font of their own
    const QSizeF page = device.pageLayout().paintRectPixels(resolution).size();
    PageDealer dealer(device, painter, page.height());
    ParagraphPrinter paragraphs(text, font, device, page.width(), resolution / 72.0, dealer);
    double top = 0;
    bool cancelled = false;
    platform::forEachParagraph(text, [&](platform::TextRange content, int terminator) {
        if (cancelled) {
            return;
        }
        const std::optional<double> next = paragraphs.print(content, terminator, top, progress);
        cancelled = !next;
        top = next.value_or(top);
    });
    if (cancelled) {
        if (auto* printer = dynamic_cast<QPrinter*>(&device)) {
            printer->abort(); // nothing of it goes to the printer
        }
        return false;
    }
    return true;
}

PrintJob::PrintJob(const QString& name, Work work, QWidget* over, QObject* parent)
    : QObject(parent)
    , progress_(std::make_shared<PagePrinter::Progress>()) {
    CW_DCHECK_MAIN_THREAD();
    window_ = std::make_unique<ProgressWindow>(
        QApplication::translate("PrintJob", "Printing %1").arg(name),
        QApplication::translate("PrintJob", "Printing \u201C%1\u201D\u2026").arg(name),
        [progress = progress_]() -> std::optional<double> {
            if (progress->total.load() < 0) {
                return std::nullopt;
            }
            return progress->fraction();
        },
        [this] { cancel(); }, over);
    QPointer<PrintJob> self(this);
    dispatch::globalQueue()->async([progress = progress_, work = std::move(work), self] {
        std::function<void()> then = work(*progress);
        if (progress->cancelled.load()) {
            return;
        }
        // Through the event loop: an alert of the finishing step runs a loop of its own, and the
        // main queue's later blocks (the remote control's among them) would wait for it.
        QMetaObject::invokeMethod(
            qApp,
            [self, progress, then = std::move(then)] {
                if (!self || self->done_ || progress->cancelled.load()) {
                    return;
                }
                self->end();
                if (then) {
                    then();
                }
            },
            Qt::QueuedConnection);
    });
}

PrintJob::~PrintJob() {
    progress_->cancelled.store(true);
}

void PrintJob::cancel() {
    CW_DCHECK_MAIN_THREAD();
    if (done_) {
        return;
    }
    progress_->cancelled.store(true);
    end();
}

void PrintJob::end() {
    done_ = true;
    window_.reset();
    emit ended();
}

void PrintJob::bringForward() {
    if (window_) {
        window_->bringForward();
    }
}

QWidget* PrintJob::progressWindow() const {
    return window_ ? window_->window() : nullptr;
}

} // namespace cw::editor
