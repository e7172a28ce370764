#include "platform/codecs/PdfReader.h"

#include "platform/codecs/CodecError.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

#include <QRegularExpression>

#include <cmath>
#include <memory>
#include <mutex>

namespace platform::codecs {

namespace {

QString toQString(const poppler::ustring& text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

QString printable(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text)
        if (c.unicode() >= 0x20 || c == u'\t')
            result += c;
    return result;
}

// Reads family, bold and italic out of a PDF font name such as "ABCDEF+DejaVuSans-BoldOblique".
RunStyle styleOfFont(const std::string& fontName, double size) {
    QString name = QString::fromUtf8(fontName.data(), static_cast<qsizetype>(fontName.size()));
    // Embedded subsets carry a tag of six capitals and a plus sign.
    if (name.size() > 7 && name[6] == u'+') {
        bool tag = true;
        for (int i = 0; i < 6; ++i)
            tag = tag && name[i] >= u'A' && name[i] <= u'Z';
        if (tag)
            name = name.mid(7);
    }
    RunStyle style;
    const QString lower = name.toLower();
    style.bold = lower.contains(u"bold") || lower.contains(u"black") || lower.contains(u"heavy") ||
                 lower.contains(u"semibold") || lower.contains(u"demi");
    style.italic = lower.contains(u"italic") || lower.contains(u"oblique");
    const qsizetype cut = name.indexOf(QRegularExpression(QStringLiteral("[-,]")));
    const QString family = cut < 0 ? name : name.left(cut);
    if (!family.isEmpty())
        style.fontFamily = family;
    if (size > 0 && std::isfinite(size))
        style.pointSize = size;
    return style;
}

void readPageWords(RichDocument& document, const std::vector<poppler::text_box>& words) {
    bool lineOpen = false;
    double lineTop = 0;
    double lineBottom = 0;
    bool spacePending = false;
    RunStyle previous;
    for (const poppler::text_box& word : words) {
        const poppler::rectf box = word.bbox();
        const double middle = box.y() + box.height() / 2;
        // A word whose middle lies outside the current line's band starts a new line.
        if (!lineOpen || middle < lineTop || middle > lineBottom) {
            document.startParagraph();
            lineOpen = true;
            lineTop = box.y();
            lineBottom = box.y() + box.height();
            spacePending = false;
        }
        const RunStyle style =
            word.has_font_info() ? styleOfFont(word.get_font_name(0), word.get_font_size()) : RunStyle{};
        if (spacePending)
            document.append(QStringLiteral(" "), previous == style ? style : RunStyle{});
        document.append(printable(toQString(word.text())), style);
        spacePending = word.has_space_after();
        previous = style;
    }
}

void readPageText(RichDocument& document, const poppler::page& page) {
    const QString text = toQString(page.text());
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n|\f")))) {
        const QString clean = printable(line);
        if (clean.trimmed().isEmpty())
            continue;
        document.startParagraph();
        document.append(clean, RunStyle{});
    }
}

void ignoreMessage(const std::string&, void*) {}

} // namespace

RichDocument PdfReader::readFile(const std::string& path) {
    // poppler prints every complaint about a damaged file; the thrown error says enough.
    static std::once_flag quiet;
    std::call_once(quiet, [] { poppler::set_debug_error_function(ignoreMessage, nullptr); });

    const std::unique_ptr<poppler::document> pdf(poppler::document::load_from_file(path));
    if (!pdf)
        throw CodecError("Could not open '" + path + "' as a PDF document.");
    if (pdf->is_locked())
        throw CodecError("'" + path + "' is protected by a password.");
    RichDocument document;
    for (int index = 0; index < pdf->pages(); ++index) {
        const std::unique_ptr<poppler::page> page(pdf->create_page(index));
        if (!page)
            continue;
        const std::vector<poppler::text_box> words = page->text_list(poppler::page::text_list_include_font);
        if (words.empty())
            readPageText(document, *page);
        else
            readPageWords(document, words);
    }
    return document;
}

} // namespace platform::codecs
