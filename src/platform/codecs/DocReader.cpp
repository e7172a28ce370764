#include "platform/codecs/DocReader.h"

#include "platform/codecs/CodecError.h"

#include <wv/wv.h>

#include <array>
#include <filesystem>
#include <mutex>
#include <vector>

namespace platform::codecs {

namespace {

std::mutex& libraryLock() {
    static std::mutex lock;
    return lock;
}

// Word 97's colour indexes (ico); 0 is "auto".
std::optional<RgbColor> paletteColor(unsigned index) {
    static constexpr std::array<RgbColor, 17> palette = {{{0, 0, 0},
                                                          {0, 0, 0},
                                                          {0, 0, 255},
                                                          {0, 255, 255},
                                                          {0, 255, 0},
                                                          {255, 0, 255},
                                                          {255, 0, 0},
                                                          {255, 255, 0},
                                                          {255, 255, 255},
                                                          {0, 0, 128},
                                                          {0, 128, 128},
                                                          {0, 128, 0},
                                                          {128, 0, 128},
                                                          {128, 0, 0},
                                                          {128, 128, 0},
                                                          {128, 128, 128},
                                                          {192, 192, 192}}};
    if (index == 0 || index >= palette.size())
        return std::nullopt;
    return palette[index];
}

UnderlineStyle underlineStyle(unsigned kul) {
    switch (kul) {
    case 0:
    case 5: // hidden
        return UnderlineStyle::none;
    case 3:
        return UnderlineStyle::doubleLine;
    case 4:
        return UnderlineStyle::dotted;
    case 6:
        return UnderlineStyle::thick;
    case 7:
    case 8:
    case 9:
        return UnderlineStyle::dashed;
    case 11:
        return UnderlineStyle::wavy;
    default:
        return UnderlineStyle::single;
    }
}

ParagraphAlignment paragraphAlignment(unsigned jc) {
    switch (jc) {
    case 0:
        return ParagraphAlignment::left;
    case 1:
        return ParagraphAlignment::center;
    case 2:
        return ParagraphAlignment::right;
    case 3:
    case 4:
        return ParagraphAlignment::justified;
    default:
        return ParagraphAlignment::natural;
    }
}

// What the handlers build while libwv walks the document.
struct Walk {
    RichDocument document;
    RunStyle style;
    ParagraphAlignment alignment = ParagraphAlignment::natural;
    bool paragraphPending = true;
    // One entry per open field: true while its code runs, false once its shown result does.
    std::vector<bool> fields;

    void ensureParagraph() {
        if (!paragraphPending)
            return;
        document.startParagraph(alignment);
        paragraphPending = false;
    }
    void endParagraph() {
        ensureParagraph();
        paragraphPending = true;
    }
    void character(char16_t c) {
        if (!fields.empty() && fields.back())
            return;
        switch (c) {
        case 13: // paragraph end
        case 7:  // cell or row end
        case 12: // page or section break
        case 14: // column break
            endParagraph();
            return;
        case 11:
            c = lineSeparator;
            break;
        case 30:
            c = 0x2011;
            break;
        case 31:
            c = 0x00AD;
            break;
        default:
            if (c < 0x20 && c != '\t')
                return;
        }
        ensureParagraph();
        document.append(QString(QChar(c)), style);
    }
};

Walk& walkOf(wvParseStruct* ps) {
    return *static_cast<Walk*>(ps->userData);
}

int onCharacter(wvParseStruct* ps, U16 eachchar, U8 chartype, U16 lid) {
    // Type 1 is an 8-bit character in the code page of its language.
    if (chartype)
        eachchar = wvHandleCodePage(eachchar, lid);
    walkOf(ps).character(static_cast<char16_t>(eachchar));
    return 0;
}

int onSpecialCharacter(wvParseStruct* ps, U16 eachchar, CHP*) {
    Walk& walk = walkOf(ps);
    switch (eachchar) {
    case 19: // field begins: its code follows
        walk.fields.push_back(true);
        break;
    case 20: // field separator: the shown result follows
        if (!walk.fields.empty())
            walk.fields.back() = false;
        break;
    case 21: // field ends
        if (!walk.fields.empty())
            walk.fields.pop_back();
        break;
    default: // pictures, footnote marks and other anchors carry no text
        break;
    }
    return 0;
}

std::optional<QString> fontName(wvParseStruct* ps, unsigned code) {
    if (!ps->fonts.ffn || code >= ps->fonts.nostrings)
        return std::nullopt;
    const XCHAR* name = ps->fonts.ffn[code].xszFfn;
    qsizetype length = 0;
    while (length < 65 && name[length] != 0)
        ++length;
    if (length == 0)
        return std::nullopt;
    return QString(reinterpret_cast<const QChar*>(name), length);
}

int onElement(wvParseStruct* ps, wvTag tag, void* props, int) {
    Walk& walk = walkOf(ps);
    if (tag == PARABEGIN && props) {
        walk.alignment = paragraphAlignment(static_cast<PAP*>(props)->jc);
    } else if (tag == CHARPROPBEGIN && props) {
        const CHP& chp = *static_cast<CHP*>(props);
        RunStyle style;
        style.bold = chp.fBold;
        style.italic = chp.fItalic;
        style.underline = underlineStyle(chp.kul);
        style.foreground = paletteColor(chp.ico);
        if (chp.fHighlight)
            style.background = paletteColor(chp.icoHighlight);
        if (chp.hps > 0)
            style.pointSize = chp.hps / 2.0;
        style.fontFamily = fontName(ps, chp.ftcAscii);
        walk.style = style;
    }
    return 0;
}

} // namespace

RichDocument DocReader::readFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw CodecError("Could not open '" + path + "'.");

    std::lock_guard lock(libraryLock());
    wvInit();
    wvParseStruct ps{};
    std::vector<char> mutablePath(path.begin(), path.end());
    mutablePath.push_back('\0');
    const int status = wvInitParser(&ps, mutablePath.data());
    if (status != 0) {
        wvShutdown();
        throw CodecError("'" + path + "' is not a Word document.");
    }
    if (ps.fib.fEncrypted) {
        wvOLEFree(&ps);
        wvShutdown();
        throw CodecError("'" + path + "' is protected by a password.");
    }
    Walk walk;
    ps.userData = &walk;
    wvSetCharHandler(&ps, onCharacter);
    wvSetSpecialCharHandler(&ps, onSpecialCharacter);
    wvSetElementHandler(&ps, onElement);
    const int result = wvHtml(&ps);
    wvOLEFree(&ps);
    wvShutdown();
    if (result != 0)
        throw CodecError("'" + path + "' is a damaged Word document.");
    return std::move(walk.document);
}

} // namespace platform::codecs
