#include "platform/text/PlainText.h"
#include "platform/text/RichTextFile.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <climits>
#include <sys/stat.h>

using namespace platform;

namespace {

AttributedString read(const char* rtf) {
    auto text = readRtf(QByteArray(rtf));
    EXPECT_TRUE(text.has_value());
    return text.value_or(AttributedString());
}

Attributes styled(Font font, std::optional<Color> color = std::nullopt,
                  ParagraphAlignment alignment = ParagraphAlignment::natural) {
    Attributes a;
    a.font = std::move(font);
    a.foregroundColor = color;
    a.paragraphStyle = ParagraphStyle{};
    a.paragraphStyle->alignment = alignment;
    return a;
}

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return f.fileName();
}

} // namespace

TEST(RtfRoundTrip, WriterThenReaderKeepsTextAndFormatting) {
    AttributedString text;
    text.append(QStringLiteral("Plain "),
                styled(Font{"DejaVu Sans", 34, false, false}, Color::yellow(), ParagraphAlignment::center));
    text.append(QStringLiteral("bold italic"),
                styled(Font{"DejaVu Serif", 12.5, true, true},
                       Color(0.2, 0.4, 0.6, 0.8, Color::Space::genericRGB), ParagraphAlignment::center));
    Attributes underlined =
        styled(Font{"DejaVu Sans", 20, false, false}, std::nullopt, ParagraphAlignment::center);
    underlined.underlineStyle = UnderlineStyle::doubleLine;
    underlined.underlineColor = Color::red();
    underlined.backgroundColor = Color::gray(0.5);
    text.append(QStringLiteral(" under\n"), underlined);
    Attributes right =
        styled(Font{"DejaVu Sans", 20, false, false}, Color::black(), ParagraphAlignment::right);
    right.paragraphStyle->headIndent = 10;
    right.paragraphStyle->firstLineHeadIndent = 25;
    right.paragraphStyle->tailIndent = -5;
    right.paragraphStyle->paragraphSpacing = 6;
    right.paragraphStyle->paragraphSpacingBefore = 3;
    right.paragraphStyle->lineHeightMultiple = 1.5;
    text.append(QString::fromUtf8("Café € 😀 {\\}\ttab\u2028line\n"), right);
    Attributes left = styled(Font{QString::fromUtf8("Fünf; Font"), 14, false, false}, std::nullopt,
                             ParagraphAlignment::left);
    text.append(QStringLiteral("last"), left);

    RtfDocumentAttributes documentIn;
    documentIn.backgroundColor = Color(1, 0, 0);
    const QByteArray rtf = writeRtf(text, documentIn);
    RtfDocumentAttributes documentOut;
    auto back = readRtf(rtf, &documentOut);
    ASSERT_TRUE(back);
    // Semicolons cannot live in RTF font names; everything else comes back equal.
    AttributedString expected = text;
    left.font->family = QString::fromUtf8("Fünf Font");
    expected.setAttributes(left, {text.length() - 4, 4});
    EXPECT_EQ(*back, expected) << rtf.toStdString();
    EXPECT_EQ(documentOut.backgroundColor, Color(1, 0, 0));
}

TEST(RtfRoundTrip, PlainTextSeparatorsEscapesAndLineEndsComeBack) {
    EXPECT_TRUE(readRtf(writeRtf(AttributedString()))->isEmpty());
    AttributedString crlf;
    crlf.append(QStringLiteral("bold\r"), styled(Font{"Helvetica", 12, true, false}));
    crlf.append(QStringLiteral("\nplain\r\nlast"), styled(Font{"Helvetica", 12, false, false}));
    const struct {
        AttributedString in;
        const char* expected;
    } cases[] = {
        {AttributedString(QStringLiteral("x\ny")), "x\ny"},
        {AttributedString(QString::fromUtf8("a\u2029b\u00a0c\u00add\u2011e\\f{g}")),
         "a\u2029b\u00a0c\u00add\u2011e\\f{g}"},
        {crlf, "bold\nplain\nlast"}, // CR LF is one break, also across runs
    };
    for (const auto& c : cases) {
        auto back = readRtf(writeRtf(c.in));
        ASSERT_TRUE(back) << c.expected;
        EXPECT_EQ(back->string(), QString::fromUtf8(c.expected));
        EXPECT_TRUE(back->attributes(0).font) << "readers always give a font";
    }
    EXPECT_FALSE(readRtf(writeRtf(cases[0].in))->attributes(0).foregroundColor);
}

TEST(RtfReader, TextOfEachConstruct) {
    const struct {
        const char* name;
        const char* rtf;
        const char* text;
    } cases[] = {
        {"document and font code pages",
         "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Sans;}{\\f1\\fcharset128 Gothic;}}"
         "\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 {\\f1 \\'93\\'fa\\'96\\'7b}}",
         "Привет 日本"},
        {"uc1", "{\\rtf1\\uc1 a\\u8364?b}", "a€b"},
        {"uc0", "{\\rtf1\\uc0 a\\u8364 b}", "a€b"},
        {"uc2", "{\\rtf1\\uc2 a\\u8364\\'80\\'80b}", "a€b"},
        {"negative values and surrogate pairs", "{\\rtf1 \\u-10179?\\u-8704?}", "😀"},
        {"uc scoped to its group", "{\\rtf1 {\\uc0 \\u8364}\\u8364?x}", "€€x"},
        {"starred and known destinations skipped, field results kept",
         "{\\rtf1{\\*\\generator Foo;}{\\info{\\title T}}{\\stylesheet{\\s0 Normal;}}"
         "{\\*\\unknowndest {nested \\b stuff} more}"
         "A{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}B"
         "{\\pict\\pngblip 89504e47}\\bin3 {}}C}",
         "AlinkBC"},
        {"unknown words, symbols and special characters",
         "{\\rtf1\\cocoartf2639\\foo12 x\\bar-3\\tab y\\line z\\~\\emdash\\{\\}\\\\\\par\nq\\\nr}",
         "x\ty\u2028z\u00a0—{}\\\nq\nr"},
        {"hidden text and control characters dropped",
         "{\\rtf1\\pard\\li720\\fi-360\\ri200\\sb120\\sa240\\sl-480 a{\\v hidden}b\\'0d\\u1?c}", "abc"},
        {"list labels as shown: unpadded, symbol-font bullets as Unicode, numbers kept",
         "{\\rtf1{\\fonttbl{\\f0 Sans;}{\\f1\\fcharset2 Symbol;}{\\f2 Wingdings;}}"
         "{\\listtext\\pard\\plain  1.\\tab}a\\par{\\listtext\\f1 \\'b7\\tab}b\\par"
         "{\\listtext \\u61623\\'3f\\tab}c\\par{\\pntext\\f2 \\'a7\\tab}d\\par{\\listtext\\f1 2.\\tab}e f}",
         "1.\ta\n•\tb\n•\tc\n▪\td\n2.\te f"},
        {"a table row is one paragraph: tabs between cells, a cell's paragraphs on lines",
         "{\\rtf1\\trowd\\cellx1\\cellx2\\pard\\intbl Host\\cell Hello\\cell\\row"
         "\\pard\\intbl Guest\\cell Hi\\par and\\cell\\row\\pard\\intbl a\\cell\\cell\\row\\pard b\\par c}",
         "Host\tHello\nGuest\tHi\u2028and\na\t\nb\nc"},
        {"a table in a cell: its cells joined by tabs, its rows lines of the cell",
         "{\\rtf1\\pard\\intbl A\\cell\\pard\\intbl\\itap2 x1\\nestcell y1\\nestcell"
         "{\\*\\nesttableprops\\trowd\\cellx1\\cellx2\\nestrow}{\\nonesttables\\par}x2\\nestcell y2"
         "\\nestcell{\\*\\nesttableprops\\nestrow}{\\nonesttables\\par}\\pard\\intbl C\\cell\\row}",
         "A\tx1\ty1\u2028x2\ty2\u2028C\n"},
        {"cut after a backslash", "{\\rtf1 abc\\", "abc"},
        {"cut in a hex escape", "{\\rtf1 abc\\'e", "abc"},
        {"cut in a unicode escape", "{\\rtf1 abc\\u", "abc"},
        {"cut in a skipped group", "{\\rtf1 {\\*\\x {{", ""},
    };
    for (const auto& c : cases) {
        const AttributedString text = read(c.rtf);
        EXPECT_EQ(text.string(), QString::fromUtf8(c.text)) << c.name;
        if (!text.isEmpty()) {
            EXPECT_FALSE(text.attributes(0).font->bold) << c.name << ": a skipped group's \\b stays there";
        }
    }
}

TEST(RtfReader, ColorTableFontTableAndCodePage) {
    auto text = read(
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1\\fswiss Arial;}}"
        "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\n"
        "\\f1\\fs48\\cf1 Caf\\'e9 \\cf2 blue\\cf0  none\\par}");
    EXPECT_EQ(text.string(), QString::fromUtf8("Café blue none\n"));
    EXPECT_EQ(text.attributes(0).foregroundColor, Color(1, 0, 0));
    EXPECT_EQ(text.attributes(5).foregroundColor, Color(0, 0, 1));
    EXPECT_FALSE(text.attributes(11).foregroundColor);
    EXPECT_EQ(text.attributes(0).font, (Font{"Arial", 24, false, false}));
}

TEST(RtfReader, NestedGroupsRestoreFormatting) {
    auto text = read("{\\rtf1 a{\\b b{\\i c}d}e}");
    EXPECT_EQ(text.string(), QStringLiteral("abcde"));
    EXPECT_FALSE(text.attributes(0).font->bold);
    EXPECT_TRUE(text.attributes(1).font->bold);
    EXPECT_TRUE(text.attributes(2).font->bold && text.attributes(2).font->italic);
    EXPECT_FALSE(text.attributes(3).font->italic);
    EXPECT_FALSE(text.attributes(4).font->bold);

    // Twenty levels, each with its own size as writers nest them, bold from the twelfth on.
    QByteArray deep = "{\\rtf1 ";
    for (int level = 1; level <= 20; ++level) {
        deep += "{\\fs" + QByteArray::number(20 + 2 * level) + (level == 12 ? "\\b x" : " x");
    }
    text = read((deep + "}y" + QByteArray(8, '}') + "z}").constData());
    const auto shown = [&](int i) {
        return std::pair(text.attributes(i).font->pointSize, text.attributes(i).font->bold);
    };
    EXPECT_EQ(shown(10), std::pair(21.0, false));
    EXPECT_EQ(shown(19), std::pair(30.0, true));
    EXPECT_EQ(shown(20), std::pair(29.0, true)) << "y, a level out";
    EXPECT_EQ(shown(21), std::pair(21.0, false)) << "z, at the eleventh";
}

TEST(RtfReader, AlignmentUnderlineAndIndentsFromTheMargin) {
    auto text = read("{\\rtf1\\pard\\qc centre\\par\\pard\\qr\\ul right\\ulnone\\par\\pard plain}");
    EXPECT_EQ(text.attributes(0).paragraphStyle->alignment, ParagraphAlignment::center);
    EXPECT_EQ(text.attributes(7).paragraphStyle->alignment, ParagraphAlignment::right);
    EXPECT_EQ(text.attributes(7).underlineStyle, UnderlineStyle::single);
    EXPECT_EQ(text.attributes(14).paragraphStyle->alignment, ParagraphAlignment::natural);
    EXPECT_FALSE(text.attributes(14).underlineStyle);

    const ParagraphStyle style =
        *read("{\\rtf1\\pard\\li720\\fi-360\\ri200\\sb120\\sa240\\sl-480 a}").attributes(0).paragraphStyle;
    EXPECT_EQ(style.headIndent, 36);
    EXPECT_EQ(style.firstLineHeadIndent, 18);
    EXPECT_EQ(style.tailIndent, -10);
    EXPECT_EQ(style.paragraphSpacingBefore, 6);
    EXPECT_EQ(style.paragraphSpacing, 12);
    EXPECT_EQ(style.minimumLineHeight, 24);
    EXPECT_EQ(style.maximumLineHeight, 24);
}

TEST(RtfReader, RejectsWhatIsNotRtf) {
    EXPECT_FALSE(readRtf(QByteArray("hello")));
    EXPECT_FALSE(readRtf(QByteArray()));
    EXPECT_TRUE(readRtf(QByteArray("\xEF\xBB\xBF  {\\rtf1 x}")));
}

TEST(RtfReaderRobustness, TruncatedInputGivesNoMoreThanWasWritten) {
    const QByteArray full = writeRtf(AttributedString(QString::fromUtf8("Hello wörld €\nagain"),
                                                      styled(Font{"DejaVu Sans", 20}, Color::red())));
    // Every cut says the file ended early; the whole file, and what trails its closing brace, not.
    for (qsizetype n = 0; n <= full.size(); ++n) {
        platform::RtfDocumentAttributes attributes;
        if (auto text = readRtf(full.left(n), &attributes)) {
            EXPECT_LE(text->length(), 19);
            EXPECT_EQ(attributes.endedEarly, n < full.trimmed().size()) << n << " of " << full.size();
        }
    }
    platform::RtfDocumentAttributes attributes;
    ASSERT_TRUE(readRtf(full + "\n}}", &attributes));
    EXPECT_FALSE(attributes.endedEarly);
    ASSERT_TRUE(readRtf(QByteArray("{\\rtf1 {\\*\\unknown skipped"), &attributes));
    EXPECT_TRUE(attributes.endedEarly) << "cut in a skipped destination";
}

TEST(RtfReaderRobustness, DeepNestingNeitherCrashesNorRecurses) {
    QByteArray deep = "{\\rtf1 a";
    deep += QByteArray(1000000, '{');
    deep += "\\b deep";
    deep += QByteArray(1000000, '}');
    deep += "b}";
    platform::RtfDocumentAttributes attributes;
    auto text = readRtf(deep, &attributes);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->string(), QStringLiteral("adeepb"));
    EXPECT_TRUE(text->attributes(1).font->bold);
    EXPECT_FALSE(text->attributes(text->length() - 1).font->bold);
    EXPECT_TRUE(readRtf("{\\rtf1 {\\*\\x " + QByteArray(1000000, '{') + "}x"));
    // Each level restyled: past the levels kept apart, the text still comes in.
    QByteArray restyled = "{\\rtf1 ";
    for (int i = 0; i < 2000; ++i) {
        restyled +=
            "{\\fs" + QByteArray::number(20 + i % 2) + "{\\*\\x {skipped}}" + QByteArray::number(i % 10);
    }
    text = readRtf(restyled + QByteArray(2000, '}') + "\\b z}", &attributes);
    ASSERT_TRUE(text && !attributes.endedEarly);
    EXPECT_EQ(text->string().first(12) + text->string().last(1), QStringLiteral("012345678901z"));
    EXPECT_EQ(text->length(), 2001);
    EXPECT_TRUE(text->attributes(2000).font->bold);
}

TEST(RtfReaderRobustness, HostileParameters) {
    EXPECT_LE(read("{\\rtf1\\uc99999999\\u99999999999999999999 \\fs-5 a\\bin99999999999 xyz}").length(), 2);
    read("{\\rtf1{\\colortbl;\\red999\\green-4\\blue7;}\\cf1 a\\cf99999 b\\f-77 c\\highlight-1 d}");
    read("{\\rtf1\\ansicpg99999 \\'ff\\'zz\\'}");
    // Right indent and exact line height are stored negated: the most negative is clamped first.
    const auto style = read("{\\rtf1\\ri-2147483648\\sl-2147483648 a}").attributes(0).paragraphStyle;
    ASSERT_TRUE(style);
    EXPECT_EQ(style->tailIndent, INT_MAX / 20.0);
    EXPECT_EQ(style->minimumLineHeight, INT_MAX / 20.0);
    EXPECT_EQ(style->maximumLineHeight, INT_MAX / 20.0);
}

TEST(RtfFiles, RtfAndRtfdFolders) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const AttributedString text(QStringLiteral("Script"), styled(Font{"DejaVu Sans", 30}, Color::green()));
    const QString rtfPath = dir.filePath(QStringLiteral("a.rtf"));
    writeRtfFile(rtfPath, text);
    EXPECT_EQ(readRichTextFile(rtfPath)->string(), QStringLiteral("Script"));

    const QString rtfdPath = dir.filePath(QStringLiteral("b.rtfd"));
    writeRtfdFolder(rtfdPath, text);
    EXPECT_TRUE(QFile::exists(rtfdPath + QStringLiteral("/TXT.rtf")));
    auto back = readRichTextFile(rtfdPath);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->attributes(0).foregroundColor, Color::green());

    EXPECT_FALSE(readRichTextFile(dir.filePath(QStringLiteral("missing.rtf"))));
    EXPECT_FALSE(readRichTextFile(dir.filePath(QStringLiteral("empty.rtfd"))));
    EXPECT_THROW(writeRtfdFolder(rtfPath, text), RichTextFileError);
}

TEST(RtfFiles, APackageWhoseTextLinksElsewhereIsRefused) {
    QTemporaryDir dir;
    const QString secret = dir.filePath(QStringLiteral("private.rtf"));
    writeRtfFile(secret, AttributedString(QStringLiteral("private")));
    const QString rtfd = dir.filePath(QStringLiteral("a.rtfd"));
    ASSERT_TRUE(QDir().mkpath(rtfd));
    ASSERT_TRUE(QFile::link(secret, rtfd + QStringLiteral("/TXT.rtf")));
    testsupport::LogCapture log;
    EXPECT_FALSE(readRichTextFile(rtfd));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("symbolic link"), std::string::npos);
    // A plain RTF file reached through a link is the user's own choice, and a linked package too.
    const QString link = dir.filePath(QStringLiteral("link.rtf"));
    ASSERT_TRUE(QFile::link(secret, link));
    EXPECT_EQ(readRichTextFile(link)->string(), QStringLiteral("private"));
    QFile::remove(rtfd + QStringLiteral("/TXT.rtf"));
    QFile::copy(secret, rtfd + QStringLiteral("/TXT.rtf"));
    const QString linkedPackage = dir.filePath(QStringLiteral("b.rtfd"));
    ASSERT_TRUE(QFile::link(rtfd, linkedPackage));
    EXPECT_EQ(readRichTextFile(linkedPackage)->string(), QStringLiteral("private"));
}

TEST(PlainTextDecoding, StrictUtf8) {
    EXPECT_EQ(decodeUtf8Strict("café 😀"), QString::fromUtf8("café 😀"));
    EXPECT_EQ(decodeUtf8Strict(""), QString());
    EXPECT_EQ(decodeUtf8Strict("\xEF\xBB\xBFx"), QStringLiteral("x"));
    EXPECT_FALSE(decodeUtf8Strict("caf\xE9"));          // Latin-1
    EXPECT_FALSE(decodeUtf8Strict("\xC0\xAF"));         // overlong
    EXPECT_FALSE(decodeUtf8Strict("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(decodeUtf8Strict("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(decodeUtf8Strict("ab\xE2\x82"));       // cut off
}

// Each failure says why; oversized files and what is no regular file are refused unread.
TEST(TextFiles, FailuresSayWhyAndOversizedOrSpecialFilesAreRefusedUnread) {
    QTemporaryDir dir;
    auto sparse = [&](const char* name, qint64 size) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size));
        return f.fileName();
    };
    auto plainFailure = [](const QString& path) {
        try {
            readPlainTextFile(path);
        } catch (const PlainTextError& e) {
            return std::optional(e.reason());
        }
        return std::optional<PlainTextError::Reason>();
    };
    EXPECT_EQ(readPlainTextFile(writeFile(dir, "good.txt", "line\n")), QStringLiteral("line\n"));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    using Reason = PlainTextError::Reason;
    EXPECT_EQ(plainFailure(writeFile(dir, "bad.txt", "caf\xE9")), Reason::notUtf8);
    EXPECT_EQ(plainFailure(dir.filePath(QStringLiteral("none.txt"))), Reason::unreadable);
    EXPECT_EQ(plainFailure(sparse("big.txt", kMaxPlainTextFileSize + 1)), Reason::tooLarge);
    EXPECT_EQ(plainFailure(QStringLiteral("/dev/zero")), Reason::unreadable);
    EXPECT_EQ(plainFailure(fifo), Reason::unreadable); // without waiting for a writer

    EXPECT_FALSE(readRichTextFile(sparse("big.rtf", kMaxRtfFileSize + 1)));
    const QString rtfd = dir.filePath(QStringLiteral("zero.rtfd"));
    ASSERT_TRUE(QDir().mkpath(rtfd));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), rtfd + QStringLiteral("/TXT.rtf")));
    EXPECT_FALSE(readRichTextFile(rtfd));
}
