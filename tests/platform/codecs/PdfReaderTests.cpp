// PDF text reading, on PDFs that Qt writes during the test.
#include "platform/codecs/CodecError.h"
#include "platform/codecs/PdfReader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFont>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace {

using platform::CodecError;
using platform::codecs::PdfReader;
using platform::codecs::RichDocument;

struct Line {
    QString text;
    bool bold = false;
    bool italic = false;
};

QString makePdf(const QTemporaryDir& dir, const std::vector<std::vector<Line>>& pages) {
    const QString path = dir.filePath("made.pdf");
    QPdfWriter writer(path);
    writer.setResolution(72);
    QPainter painter(&writer);
    for (std::size_t page = 0; page < pages.size(); ++page) {
        if (page > 0)
            writer.newPage();
        int y = 60;
        for (const Line& line : pages[page]) {
            QFont font("DejaVu Sans");
            font.setPointSize(14);
            font.setBold(line.bold);
            font.setItalic(line.italic);
            painter.setFont(font);
            painter.drawText(50, y, line.text);
            y += 40;
        }
    }
    painter.end();
    return path;
}

// Lines come back in order across pages; bold and italic come from the fonts' names.
TEST(PdfReader, LinesComeBackAcrossPagesWithTheirTraits) {
    QTemporaryDir dir;
    const std::vector<std::vector<Line>> pages = {
        {{"Hello prompter world"}, {"strong words", true}, {"slanted words", false, true}},
        {{"Page two text"}}};
    const RichDocument doc = PdfReader::readFile(makePdf(dir, pages).toStdString());
    EXPECT_EQ(doc.plainText(), "Hello prompter world\nstrong words\nslanted words\nPage two text");
    ASSERT_EQ(doc.paragraphs.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& runs = doc.paragraphs[i].runs;
        ASSERT_EQ(runs.size(), 1u) << i;
        EXPECT_EQ(runs[0].style.bold, pages[0][i].bold) << i;
        EXPECT_EQ(runs[0].style.italic, pages[0][i].italic) << i;
    }
    const auto& family = doc.paragraphs[0].runs[0].style.fontFamily;
    ASSERT_TRUE(family);
    EXPECT_TRUE(family->startsWith("DejaVuSans")) << family->toStdString();
}

TEST(PdfReader, ParagraphsThatWrapComeBackWholeWithTheirColours) {
    QTemporaryDir dir;
    const QString path = dir.filePath("wrapped.pdf");
    const QStringList paragraphs = {
        "The first paragraph runs on over several lines of the page, with ligatures in fine office files, so "
        "that the reader has to put "
        "the lines back together into one paragraph of the script again. It ends here.",
        "A short one.",
        "The third paragraph is long as well and has a <span style='color:#ff0000'>red phrase</span> "
        "in the middle of it, and an <u>underlined phrase</u> near its end, which must both stay.",
    };
    {
        QPdfWriter writer(path);
        QTextDocument document;
        document.setDefaultFont(QFont("DejaVu Sans", 12));
        document.setHtml("<p>" + paragraphs.join("</p><p>") + "</p>");
        document.print(&writer);
    }
    const RichDocument doc = PdfReader::readFile(path.toStdString());
    QStringList expected;
    for (const QString& paragraph : paragraphs)
        expected << QTextDocumentFragment::fromHtml(paragraph).toPlainText();
    // Qt prints the page number below them.
    EXPECT_EQ(doc.plainText().split(u'\n'), expected + QStringList{"1"}) << doc.plainText().toStdString();
    ASSERT_EQ(doc.paragraphs.size(), 4u);
    bool red = false;
    bool underlined = false;
    for (const auto& run : doc.paragraphs[2].runs) {
        red = red ||
              (run.text.contains("red") && run.style.foreground == platform::codecs::RgbColor{255, 0, 0});
        underlined = underlined || (run.text.contains("underlined") &&
                                    run.style.underline == platform::codecs::UnderlineStyle::single);
    }
    EXPECT_TRUE(red);
    EXPECT_TRUE(underlined);
}

// Right-to-left text comes back in logical order, Arabic in its normal letters rather than the
// presentation forms the page shows: what the words were typed as, beside left-to-right words
// and numbers.
TEST(PdfReader, RightToLeftTextComesBackInLogicalOrderAndNormalForms) {
    QTemporaryDir dir;
    const QStringList lines = {
        QString::fromUtf8("שלום עולם"),
        QString::fromUtf8("مرحبا بالعالم"),
        QString::fromUtf8("قال لا 12"), // a lam-alef ligature, a number after it
        QString::fromUtf8("לא לשכוח 2024 Cuewright לקרוא"),
        QString::fromUtf8("Read שלום עולם aloud"),
    };
    std::vector<Line> page;
    for (const QString& line : lines)
        page.push_back({line});
    const RichDocument doc = PdfReader::readFile(makePdf(dir, {page}).toStdString());
    EXPECT_EQ(doc.plainText().split(u'\n'), lines) << doc.plainText().toStdString();

    // Printed as the application prints a script: centred paragraphs of a text document.
    const QString printed = dir.filePath("printed.pdf");
    {
        QPdfWriter writer(printed);
        QTextDocument document;
        document.setDefaultFont(QFont("DejaVu Sans", 16));
        QTextOption centred = document.defaultTextOption();
        centred.setAlignment(Qt::AlignHCenter);
        document.setDefaultTextOption(centred);
        document.setPlainText(lines.join(QStringLiteral("\n\n"))); // a gap: centred lines are not joined
        document.print(&writer);
    }
    const QString read = PdfReader::readFile(printed.toStdString()).plainText();
    EXPECT_EQ(read.split(u'\n'), lines + QStringList{"1"}) << read.toStdString(); // and the page number
}

TEST(PdfReader, MissingAndDamagedFilesFail) {
    EXPECT_THROW(PdfReader::readFile("/nonexistent/file.pdf"), CodecError);
    QTemporaryDir dir;
    QFile file(dir.filePath("bad.pdf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                file.write("%PDF-1.4\nthis is not really a pdf\n%%EOF\n") > 0);
    file.close();
    EXPECT_THROW(PdfReader::readFile(file.fileName().toStdString()), CodecError);
}

} // namespace
