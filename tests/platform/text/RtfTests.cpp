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
    text.append(QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 {\\}\ttab\xE2\x80\xA8line\n"),
                right);
    Attributes left = styled(Font{QString::fromUtf8("Fünf; Font"), 14, false, false}, std::nullopt,
                             ParagraphAlignment::left);
    text.append(QStringLiteral("last"), left);

    RtfDocumentAttributes documentIn;
    documentIn.backgroundColor = Color(1, 0, 0);
    const QByteArray rtf = writeRtf(text, documentIn);
    RtfDocumentAttributes documentOut;
    auto back = readRtf(rtf, &documentOut);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->string(), text.string());
    // Semicolons cannot live in RTF font names; everything else comes back equal.
    AttributedString expected = text;
    Attributes leftRead = left;
    leftRead.font->family = QString::fromUtf8("Fünf Font");
    expected.setAttributes(leftRead, {text.length() - 4, 4});
    EXPECT_EQ(*back, expected) << rtf.toStdString();
    EXPECT_EQ(documentOut.backgroundColor, Color(1, 0, 0));
}

TEST(RtfRoundTrip, EmptyTextAndTextWithoutAttributes) {
    EXPECT_TRUE(readRtf(writeRtf(AttributedString()))->isEmpty());
    auto back = readRtf(writeRtf(AttributedString(QStringLiteral("x\ny"))));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->string(), QStringLiteral("x\ny"));
    EXPECT_TRUE(back->attributes(0).font); // readers always give a font
    EXPECT_FALSE(back->attributes(0).foregroundColor);
}

TEST(RtfReader, ColorTableAndCodePage) {
    auto text = read(
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1\\fswiss Arial;}}"
        "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\n"
        "\\f1\\fs48\\cf1 Caf\\'e9 \\cf2 blue\\cf0  none\\par}");
    EXPECT_EQ(text.string(), QString::fromUtf8("Caf\xC3\xA9 blue none\n"));
    EXPECT_EQ(text.attributes(0).foregroundColor, Color(1, 0, 0));
    EXPECT_EQ(text.attributes(5).foregroundColor, Color(0, 0, 1));
    EXPECT_FALSE(text.attributes(11).foregroundColor);
    EXPECT_EQ(text.attributes(0).font, (Font{"Arial", 24, false, false}));
}

TEST(RtfReader, OtherCodePagesFromDocumentAndFontCharset) {
    // cp1251 "Привет" and, through a font's \fcharset128 (Shift_JIS), "日本".
    auto text = read("{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Sans;}{\\f1\\fcharset128 Gothic;}}"
                     "\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 {\\f1 \\'93\\'fa\\'96\\'7b}}");
    EXPECT_EQ(text.string(),
              QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5\xE6\x9C\xAC"));
}

TEST(RtfReader, UnicodeEscapesHonourTheSkipCount) {
    EXPECT_EQ(read("{\\rtf1\\uc1 a\\u8364?b}").string(), QString::fromUtf8("a\xE2\x82\xAC"
                                                                           "b"));
    EXPECT_EQ(read("{\\rtf1\\uc0 a\\u8364 b}").string(), QString::fromUtf8("a\xE2\x82\xAC"
                                                                           "b"));
    EXPECT_EQ(read("{\\rtf1\\uc2 a\\u8364\\'80\\'80b}").string(), QString::fromUtf8("a\xE2\x82\xAC"
                                                                                    "b"));
    // Negative values and surrogate pairs.
    EXPECT_EQ(read("{\\rtf1 \\u-10179?\\u-8704?}").string(), QString::fromUtf8("\xF0\x9F\x98\x80"));
    // \uc is scoped to its group.
    EXPECT_EQ(read("{\\rtf1 {\\uc0 \\u8364}\\u8364?x}").string(), QString::fromUtf8("\xE2\x82\xAC\xE2\x82\xAC"
                                                                                    "x"));
}

TEST(RtfReader, NestedGroupsRestoreFormatting) {
    auto text = read("{\\rtf1 a{\\b b{\\i c}d}e}");
    EXPECT_EQ(text.string(), QStringLiteral("abcde"));
    EXPECT_FALSE(text.attributes(0).font->bold);
    EXPECT_TRUE(text.attributes(1).font->bold);
    EXPECT_TRUE(text.attributes(2).font->bold && text.attributes(2).font->italic);
    EXPECT_FALSE(text.attributes(3).font->italic);
    EXPECT_FALSE(text.attributes(4).font->bold);
}

TEST(RtfReader, SkipsStarredAndKnownDestinationsKeepsFieldResults) {
    auto text = read("{\\rtf1{\\*\\generator Foo;}{\\info{\\title T}}{\\stylesheet{\\s0 Normal;}}"
                     "{\\*\\unknowndest {nested \\b stuff} more}"
                     "A{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}B"
                     "{\\pict\\pngblip 89504e47}\\bin3 {}}C}");
    EXPECT_EQ(text.string(), QStringLiteral("AlinkBC"));
    EXPECT_FALSE(text.attributes(0).font->bold);
}

TEST(RtfReader, UnknownWordsSymbolsAndSpecialCharacters) {
    auto text = read("{\\rtf1\\cocoartf2639\\foo12 x\\bar-3\\tab y\\line z\\~\\emdash\\{\\}\\\\\\par\n"
                     "q\\\nr}");
    EXPECT_EQ(text.string(), QString::fromUtf8("x\ty\xE2\x80\xA8z\xC2\xA0\xE2\x80\x94{}\\\nq\nr"));
}

TEST(RtfReader, AlignmentAndUnderline) {
    auto text = read("{\\rtf1\\pard\\qc centre\\par\\pard\\qr\\ul right\\ulnone\\par\\pard plain}");
    EXPECT_EQ(text.attributes(0).paragraphStyle->alignment, ParagraphAlignment::center);
    EXPECT_EQ(text.attributes(7).paragraphStyle->alignment, ParagraphAlignment::right);
    EXPECT_EQ(text.attributes(7).underlineStyle, UnderlineStyle::single);
    EXPECT_EQ(text.attributes(14).paragraphStyle->alignment, ParagraphAlignment::natural);
    EXPECT_FALSE(text.attributes(14).underlineStyle);
}

TEST(RtfReader, RejectsWhatIsNotRtf) {
    EXPECT_FALSE(readRtf(QByteArray("hello")));
    EXPECT_FALSE(readRtf(QByteArray()));
    EXPECT_TRUE(readRtf(QByteArray("\xEF\xBB\xBF  {\\rtf1 x}")));
}

TEST(RtfReaderRobustness, TruncatedInputGivesWhatWasRead) {
    const QByteArray full =
        writeRtf(AttributedString(QString::fromUtf8("Hello w\xC3\xB6rld \xE2\x82\xAC\nagain"),
                                  styled(Font{"DejaVu Sans", 20}, Color::red())));
    for (qsizetype n = 0; n <= full.size(); ++n) {
        auto text = readRtf(full.left(n));
        if (text) {
            EXPECT_LE(text->length(), 19);
        }
    }
    EXPECT_EQ(read("{\\rtf1 abc\\").string(), QStringLiteral("abc"));
    EXPECT_EQ(read("{\\rtf1 abc\\'e").string(), QStringLiteral("abc"));
    EXPECT_EQ(read("{\\rtf1 abc\\u").string(), QStringLiteral("abc"));
    EXPECT_EQ(read("{\\rtf1 {\\*\\x {{").string(), QString());
}

TEST(RtfReaderRobustness, DeepNestingNeitherCrashesNorRecurses) {
    QByteArray deep = "{\\rtf1 a";
    deep += QByteArray(1000000, '{');
    deep += "\\b deep";
    deep += QByteArray(1000000, '}');
    deep += "b}";
    auto text = readRtf(deep);
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->string().startsWith(u'a'));
    EXPECT_TRUE(text->string().endsWith(u'b'));
    EXPECT_FALSE(text->attributes(text->length() - 1).font->bold);

    QByteArray deepSkip = "{\\rtf1 {\\*\\x " + QByteArray(1000000, '{') + "}x";
    EXPECT_TRUE(readRtf(deepSkip));
}

TEST(RtfReaderRobustness, HostileParameters) {
    auto text = read("{\\rtf1\\uc99999999\\u99999999999999999999 \\fs-5 a\\bin99999999999 xyz}");
    EXPECT_LE(text.length(), 2);
    read("{\\rtf1{\\colortbl;\\red999\\green-4\\blue7;}\\cf1 a\\cf99999 b\\f-77 c\\highlight-1 d}");
    read("{\\rtf1\\ansicpg99999 \\'ff\\'zz\\'}");
}

TEST(RtfReaderRobustness, TheMostNegativeParametersAreClampedBeforeNegating) {
    // Right indent and exact line height are stored negated.
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

TEST(PlainTextDecoding, StrictUtf8) {
    EXPECT_EQ(decodeUtf8Strict("caf\xC3\xA9 \xF0\x9F\x98\x80"),
              QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_EQ(decodeUtf8Strict(""), QString());
    EXPECT_EQ(decodeUtf8Strict("\xEF\xBB\xBFx"), QStringLiteral("x"));
    EXPECT_FALSE(decodeUtf8Strict("caf\xE9"));          // Latin-1
    EXPECT_FALSE(decodeUtf8Strict("\xC0\xAF"));         // overlong
    EXPECT_FALSE(decodeUtf8Strict("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(decodeUtf8Strict("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(decodeUtf8Strict("ab\xE2\x82"));       // cut off
}

TEST(PlainTextDecoding, FilesReportWhyTheyFail) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    const QString bad = dir.filePath(QStringLiteral("bad.txt"));
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("line\n");
    f.close();
    QFile g(bad);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write("caf\xE9");
    g.close();
    EXPECT_EQ(readPlainTextFile(good), QStringLiteral("line\n"));
    try {
        readPlainTextFile(bad);
        FAIL();
    } catch (const PlainTextError& e) {
        EXPECT_EQ(e.reason(), PlainTextError::Reason::notUtf8);
    }
    try {
        readPlainTextFile(dir.filePath(QStringLiteral("none.txt")));
        FAIL();
    } catch (const PlainTextError& e) {
        EXPECT_EQ(e.reason(), PlainTextError::Reason::unreadable);
    }
}

TEST(TextFiles, OversizedFilesAndWhatIsNoRegularFileAreRefusedUnread) {
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
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(plainFailure(sparse("big.txt", kMaxPlainTextFileSize + 1)), PlainTextError::Reason::tooLarge);
    EXPECT_EQ(plainFailure(QStringLiteral("/dev/zero")), PlainTextError::Reason::unreadable);
    EXPECT_EQ(plainFailure(fifo), PlainTextError::Reason::unreadable); // without waiting for a writer

    EXPECT_FALSE(readRichTextFile(sparse("big.rtf", kMaxRtfFileSize + 1)));
    const QString rtfd = dir.filePath(QStringLiteral("zero.rtfd"));
    ASSERT_TRUE(QDir().mkpath(rtfd));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), rtfd + QStringLiteral("/TXT.rtf")));
    EXPECT_FALSE(readRichTextFile(rtfd));
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

TEST(RtfReader, IndentsAreMeasuredFromTheMarginAndHiddenTextIsDropped) {
    auto text = read("{\\rtf1\\pard\\li720\\fi-360\\ri200\\sb120\\sa240\\sl-480 a{\\v hidden}b\\'0d\\u1?c}");
    EXPECT_EQ(text.string(), QStringLiteral("abc"));
    const ParagraphStyle style = *text.attributes(0).paragraphStyle;
    EXPECT_EQ(style.headIndent, 36);
    EXPECT_EQ(style.firstLineHeadIndent, 18);
    EXPECT_EQ(style.tailIndent, -10);
    EXPECT_EQ(style.paragraphSpacingBefore, 6);
    EXPECT_EQ(style.paragraphSpacing, 12);
    EXPECT_EQ(style.minimumLineHeight, 24);
    EXPECT_EQ(style.maximumLineHeight, 24);
}

TEST(RtfRoundTrip, SeparatorsAndEscapesComeBackAsTheyWere) {
    const QString s = QString::fromUtf8("a\xE2\x80\xA9"
                                        "b\xC2\xA0"
                                        "c\xC2\xAD"
                                        "d\xE2\x80\x91"
                                        "e\\f{g}");
    auto back = readRtf(writeRtf(AttributedString(s)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->string(), s);
}

TEST(RtfRoundTrip, CarriageReturnLineFeedIsOneBreakAlsoAcrossRuns) {
    AttributedString text;
    text.append(QStringLiteral("bold\r"), styled(Font{"Helvetica", 12, true, false}));
    text.append(QStringLiteral("\nplain\r\nlast"), styled(Font{"Helvetica", 12, false, false}));
    auto back = readRtf(writeRtf(text));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->string(), QStringLiteral("bold\nplain\nlast"));
}
