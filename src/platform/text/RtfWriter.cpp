#include "platform/text/RtfWriter.h"

#include "platform/text/AttributedString.h"
#include "platform/text/CodePage.h"

#include <cmath>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

// The character formatting as written, to write only what changes between runs.
struct Written {
    int font = -1;
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    int underline = UnderlineStyle::none;
    int underlineColor = 0;
    int foreground = 0;
    int background = 0;
};

int twips(double points) {
    return static_cast<int>(std::lround(points * 20));
}

class Writer {
public:
    explicit Writer(const AttributedString& text)
        : text_(text) {}

    QByteArray write(const RtfDocumentAttributes& documentAttributes) {
        collectTables(documentAttributes);
        out_.reserve(text_.length() + 512);
        out_ += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n";
        writeFontTable();
        writeColorTables();
        if (documentAttributes.backgroundColor) {
            const Color& c = *documentAttributes.backgroundColor;
            const long bgr = c.red8() + (c.green8() << 8) + (long(c.blue8()) << 16);
            out_ += "{\\*\\background{\\shp{\\*\\shpinst{\\sp{\\sn fillColor}{\\sv " +
                    QByteArray::number(bgr) + "}}}}}\n";
        }
        writeBody();
        out_ += "}\n";
        return out_;
    }

private:
    void collectTables(const RtfDocumentAttributes& documentAttributes) {
        for (const AttributedString::Run& run : text_.runs()) {
            const Attributes& a = run.attributes;
            if (a.font && !fontIndex_.contains(a.font->family)) {
                fontIndex_.emplace(a.font->family, static_cast<int>(fonts_.size()));
                fonts_.push_back(a.font->family);
            }
            for (const auto& c : {a.foregroundColor, a.backgroundColor, a.underlineColor}) {
                if (c) {
                    colorIndex(*c);
                }
            }
        }
        if (fonts_.empty()) {
            fonts_.push_back(QStringLiteral("Helvetica"));
        }
        (void)documentAttributes;
    }

    int colorIndex(const Color& c) {
        auto [it, added] = colorIndex_.emplace(c, static_cast<int>(colors_.size()) + 1);
        if (added) {
            colors_.push_back(c);
        }
        return it->second;
    }

    void writeFontTable() {
        out_ += "{\\fonttbl";
        for (std::size_t i = 0; i < fonts_.size(); ++i) {
            out_ += "\\f" + QByteArray::number(qulonglong(i)) + "\\fnil\\fcharset0 ";
            QString name = fonts_[i];
            name.remove(u';');
            writeEscaped(name);
            out_ += ';';
        }
        out_ += "}\n";
    }

    void writeColorTables() {
        if (colors_.empty()) {
            return;
        }
        out_ += "{\\colortbl;";
        for (const Color& c : colors_) {
            out_ += "\\red" + QByteArray::number(c.red8()) + "\\green" + QByteArray::number(c.green8()) +
                    "\\blue" + QByteArray::number(c.blue8()) + ';';
        }
        out_ += "}\n{\\*\\expandedcolortbl;";
        for (const Color& c : colors_) {
            switch (c.space()) {
            case Color::Space::sRGB:
                out_ += "\\cssrgb";
                break;
            case Color::Space::genericRGB:
                out_ += "\\csgenericrgb";
                break;
            case Color::Space::deviceRGB:
                out_ += "\\csdevicergb";
                break;
            case Color::Space::genericGray:
                out_ += "\\csgenericgray\\c" + QByteArray::number(c.redUnits()) + "\\c" +
                        QByteArray::number(c.alphaUnits()) + ';';
                continue;
            }
            for (int units : {c.redUnits(), c.greenUnits(), c.blueUnits(), c.alphaUnits()}) {
                out_ += "\\c" + QByteArray::number(units);
            }
            out_ += ';';
        }
        out_ += "}\n";
    }

    void writeParagraph(const ParagraphStyle& style) {
        out_ += "\\pard";
        switch (style.alignment) {
        case ParagraphAlignment::left:
            out_ += "\\ql";
            break;
        case ParagraphAlignment::center:
            out_ += "\\qc";
            break;
        case ParagraphAlignment::right:
            out_ += "\\qr";
            break;
        case ParagraphAlignment::justified:
            out_ += "\\qj";
            break;
        case ParagraphAlignment::natural:
            break;
        }
        switch (style.baseWritingDirection) {
        case WritingDirection::natural:
            break;
        case WritingDirection::leftToRight:
            out_ += "\\ltrpar";
            break;
        case WritingDirection::rightToLeft:
            out_ += "\\rtlpar";
            break;
        }
        auto number = [this](const char* word, int value) {
            if (value != 0) {
                out_ += word + QByteArray::number(value);
            }
        };
        number("\\li", twips(style.headIndent));
        number("\\fi", twips(style.firstLineHeadIndent - style.headIndent));
        number("\\ri", twips(-style.tailIndent));
        number("\\sb", twips(style.paragraphSpacingBefore));
        number("\\sa", twips(style.paragraphSpacing));
        number("\\slleading", twips(style.lineSpacing));
        if (style.lineHeightMultiple > 0) {
            out_ += "\\sl" + QByteArray::number(std::lround(style.lineHeightMultiple * 240)) + "\\slmult1";
        } else if (style.maximumLineHeight > 0 && style.maximumLineHeight == style.minimumLineHeight) {
            out_ += "\\sl-" + QByteArray::number(twips(style.maximumLineHeight)) + "\\slmult0";
        } else if (style.minimumLineHeight > 0) {
            out_ += "\\sl" + QByteArray::number(twips(style.minimumLineHeight)) + "\\slmult0";
        }
        out_ += ' ';
    }

    void writeCharacterFormat(const Attributes& a) {
        Written next;
        if (a.font) {
            next.font = fontIndex_.at(a.font->family);
            next.halfPoints = std::max(1, static_cast<int>(std::lround(a.font->pointSize * 2)));
            next.bold = a.font->bold;
            next.italic = a.font->italic;
        } else {
            next.font = 0;
        }
        next.foreground = a.foregroundColor ? colorIndex(*a.foregroundColor) : 0;
        next.background = a.backgroundColor ? colorIndex(*a.backgroundColor) : 0;
        next.underline = a.underlineStyle.value_or(UnderlineStyle::none);
        next.underlineColor =
            a.underlineColor && next.underline != UnderlineStyle::none ? colorIndex(*a.underlineColor) : 0;
        const std::size_t before = out_.size();
        if (next.font != written_.font) {
            out_ += "\\f" + QByteArray::number(next.font);
        }
        if (next.halfPoints != written_.halfPoints) {
            out_ += "\\fs" + QByteArray::number(next.halfPoints);
        }
        if (next.bold != written_.bold) {
            out_ += next.bold ? "\\b" : "\\b0";
        }
        if (next.italic != written_.italic) {
            out_ += next.italic ? "\\i" : "\\i0";
        }
        if (next.underline != written_.underline) {
            out_ += underlineWord(next.underline);
        }
        if (next.underlineColor != written_.underlineColor) {
            out_ += "\\ulc" + QByteArray::number(next.underlineColor);
        }
        if (next.foreground != written_.foreground) {
            out_ += "\\cf" + QByteArray::number(next.foreground);
        }
        if (next.background != written_.background) {
            out_ += "\\cb" + QByteArray::number(next.background);
        }
        if (static_cast<std::size_t>(out_.size()) != before) {
            out_ += ' ';
        }
        written_ = next;
    }

    static QByteArray underlineWord(int style) {
        if ((style & 0xff) == UnderlineStyle::none) {
            return "\\ulnone";
        }
        if (style & UnderlineStyle::byWord) {
            return "\\ulw";
        }
        switch (style & 0x0f00) {
        case UnderlineStyle::patternDot:
            return "\\uld";
        case UnderlineStyle::patternDash:
            return "\\uldash";
        case UnderlineStyle::patternDashDot:
            return "\\uldashd";
        case UnderlineStyle::patternDashDotDot:
            return "\\uldashdd";
        default:
            break;
        }
        if ((style & 0xff) == UnderlineStyle::doubleLine) {
            return "\\uldb";
        }
        if ((style & 0xff) == UnderlineStyle::thick) {
            return "\\ulth";
        }
        return "\\ul";
    }

    void writeBody() {
        const QString& s = text_.string();
        std::optional<ParagraphStyle> paragraph;
        bool atParagraphStart = true;
        for (const AttributedString::Run& run : text_.runs()) {
            bool formatPending = true;
            for (int i = run.range.location; i < run.range.end(); ++i) {
                // The '\n' of "\r\n", also at the start of the next run: the '\r' wrote the break.
                if (s[i] == u'\n' && i > 0 && s[i - 1] == u'\r') {
                    continue;
                }
                if (atParagraphStart) {
                    const ParagraphStyle style =
                        text_.attributes(i).paragraphStyle.value_or(ParagraphStyle());
                    if (!paragraph || !(*paragraph == style)) {
                        writeParagraph(style);
                        paragraph = style;
                    }
                    atParagraphStart = false;
                }
                if (formatPending) {
                    writeCharacterFormat(run.attributes);
                    formatPending = false;
                }
                const char16_t c = s[i].unicode();
                if (c == u'\n' || c == u'\r') {
                    out_ += "\\par\n";
                    atParagraphStart = true;
                    continue;
                }
                writeCharacter(c);
            }
        }
    }

    void writeCharacter(char16_t c) {
        if (c < 0x80) {
            switch (c) {
            case u'\\':
            case u'{':
            case u'}':
                out_ += '\\';
                out_ += char(c);
                return;
            case u'\t':
                out_ += "\\tab ";
                return;
            case u'\f':
                out_ += "\\page\n";
                return;
            default:
                if (c >= 0x20) {
                    out_ += char(c);
                }
                return;
            }
        }
        switch (c) {
        case 0x00A0:
            out_ += "\\~";
            return;
        case 0x00AD:
            out_ += "\\-";
            return;
        case 0x2011:
            out_ += "\\_";
            return;
        case 0x2028:
            out_ += "\\line\n";
            return;
        default:
            break;
        }
        if (const int b = cp1252Byte(c); b >= 0) {
            static const char hex[] = "0123456789abcdef";
            out_ += "\\'";
            out_ += hex[b >> 4];
            out_ += hex[b & 15];
            return;
        }
        out_ += "\\u" + QByteArray::number(static_cast<int>(static_cast<int16_t>(c))) + '?';
    }

    void writeEscaped(const QString& s) {
        for (QChar c : s) {
            writeCharacter(c.unicode());
        }
    }

    const AttributedString& text_;
    QByteArray out_;
    std::vector<QString> fonts_;
    std::unordered_map<QString, int> fontIndex_;
    std::vector<Color> colors_;
    std::unordered_map<Color, int, ColorHash> colorIndex_;
    Written written_;
};

} // namespace

QByteArray writeRtf(const AttributedString& text, const RtfDocumentAttributes& documentAttributes) {
    return Writer(text).write(documentAttributes);
}

} // namespace platform
