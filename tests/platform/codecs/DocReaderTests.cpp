// DOC reading through libwv, on a Word 97 file that LibreOffice wrote.
#include "platform/codecs/CodecError.h"
#include "platform/codecs/DocReader.h"
#include "platform/codecs/DocxReader.h"
#include "platform/text/RichTextFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using platform::CodecError;
using platform::codecs::DocReader;
using platform::codecs::ParagraphAlignment;
using platform::codecs::RgbColor;
using platform::codecs::RichDocument;

QString notADocument(const QTemporaryDir& dir) {
    QFile file(dir.filePath("plain.doc"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is plain text, not an OLE compound file");
    return file.fileName();
}

TEST(DocReader, FixtureKeepsParagraphsFormattingAndAlignment) {
    const RichDocument doc = DocReader::readFile(CW_FIXTURES_DIR "/script-sample.doc");
    ASSERT_EQ(doc.paragraphs.size(), 4u) << doc.plainText().toStdString();
    const QString texts[] = {"Good evening, and welcome.",
                             "Bold words and italic words and underlined words.", "Red text then blue text.",
                             QString::fromUtf8("Large café — naïve")};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(doc.paragraphs[i].plainText(), texts[i]);
    EXPECT_EQ(doc.paragraphs[1].alignment, ParagraphAlignment::center);
    EXPECT_EQ(doc.paragraphs[2].alignment, ParagraphAlignment::right);
    EXPECT_EQ(doc.paragraphs[3].alignment, ParagraphAlignment::justified);
    auto runWith = [&](std::size_t paragraph, const QString& text) {
        for (const auto& run : doc.paragraphs[paragraph].runs)
            if (run.text == text)
                return run.style;
        ADD_FAILURE() << "no run " << text.toStdString();
        return platform::codecs::RunStyle{};
    };
    EXPECT_TRUE(runWith(1, "Bold words").bold);
    EXPECT_TRUE(runWith(1, "italic words").italic);
    EXPECT_EQ(runWith(1, "underlined words").underline, platform::codecs::UnderlineStyle::single);
    EXPECT_EQ(runWith(2, "Red text").foreground, (RgbColor{255, 0, 0}));
    EXPECT_EQ(runWith(2, "blue text").foreground, (RgbColor{0, 0, 255}));
    EXPECT_EQ(runWith(3, "Large").pointSize, 20.0);
}

// One document as LibreOffice writes it in each Word format and RTF: numbered, lettered, roman and
// bulleted lists, levels, a restarted list, and a table.
TEST(DocReader, ListsKeepTheirLabelsAndTableRowsTheirCellsAsInDocx) {
    const QString expected = QString::fromUtf16(
        u"Running order\n1.\tWelcome the audience\n2.\tIntroduce the guest\n2.1.\tCareer\n2.2.\tNew book\n"
        u"3.\tQuestions\n\u2022\tCue music\n\u2022\tLights down\nA)\tAct one\nB)\tAct two\n"
        u"1.\tAgain from the top\niv.\tFour\nv.\tFive\nHost\tHello\nGuest\tHi there\u2028and welcome\nThe "
        u"end");
    EXPECT_EQ(DocReader::readFile(CW_FIXTURES_DIR "/script-lists.doc").plainText(), expected);
    EXPECT_EQ(platform::codecs::DocxReader::readFile(CW_FIXTURES_DIR "/script-lists.docx").plainText(),
              expected);
    // RTF ends the last paragraph with a mark, read as a line end.
    EXPECT_EQ(platform::readRichTextFile(QStringLiteral(CW_FIXTURES_DIR "/script-lists.rtf"))->string(),
              expected + u'\n');
}

// The last: the LibreOffice fixture with a few bytes overwritten, which libwv dies of.
TEST(DocReader, MissingForeignAndDamagedFilesFail) {
    QTemporaryDir dir;
    for (const QString& path : {QString("/nonexistent/file.doc"), notADocument(dir), dir.path(),
                                QString(CW_FIXTURES_DIR "/damaged-word97.doc")})
        EXPECT_THROW(DocReader::readFile(path.toStdString()), CodecError) << path.toStdString();
}

// The reader program with the probe `name` (see DocReaderProbes.cpp).
DocReader::ReaderProgram probing(const char* name) {
    return {CW_DOC_READER_PROBES, {name}};
}

// What a read through each probe (see DocReaderProbes.cpp) ends in. The reader is confined before
// it parses a byte: even a file that is no Word document reaches the probe, and the document's
// bytes stay sealed until the probe opens them. A reader taken over by its file reaches nothing
// else, cannot even look a path up, yet may still convert character sets. A reader that crashes or
// runs past its time or memory is a damaged file; the next read works.
TEST(DocReader, AConfinedReaderReachesNothingElseAndOverrunsAreDamagedFiles) {
    QTemporaryDir dir;
    const std::string sample = CW_FIXTURES_DIR "/script-sample.doc";
    // One table's length changed to 2 GB: libwv allocates and fills it, gigabytes within seconds.
    const std::string growing = CW_FIXTURES_DIR "/growing-word97.doc";
    const auto limits = DocReader::childLimitsFor(QFile(sample.c_str()).size());
    const std::string damaged = "is a damaged Word document.";
    const struct {
        const char* probe;
        std::string path;
        DocReader::ChildLimits limits;
        std::string error; // empty: the document reads whole
    } cases[] = {
        {"refused", notADocument(dir).toStdString(), DocReader::childLimitsFor(64),
         "cannot be read safely on this system."},
        {"seal", sample, limits, ""},
        {"lookups", sample, limits, ""},
        {"none", sample, limits, ""},
        {"open", sample, limits, damaged},
        {"socket", sample, limits, damaged},
        {"signal", sample, limits, damaged},
        {"exec-memory", sample, limits, damaged},
        {"none", sample, {std::chrono::milliseconds(0), std::size_t{512} << 20}, damaged},
        {"none", growing, DocReader::childLimitsFor(QFile(growing.c_str()).size()), damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.probe) + " " + c.path);
        try {
            const RichDocument doc = DocReader::readFile(c.path, c.limits, probing(c.probe));
            EXPECT_EQ(c.error, "") << "read";
            ASSERT_EQ(doc.paragraphs.size(), 4u);
            EXPECT_EQ(doc.paragraphs[3].plainText(), QString::fromUtf8("Large café — naïve"));
        } catch (const CodecError& error) {
            EXPECT_TRUE(!c.error.empty() && std::string_view(error.what()).ends_with(c.error))
                << error.what();
        }
    }
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 1 << 20) << "kilobytes at the peak of a child";
    EXPECT_EQ(DocReader::readFile(sample).paragraphs.size(), 4u);
}

TEST(DocReader, ChildLimitsGrowWithTheFileUpToACap) {
    const auto small = DocReader::childLimitsFor(10'000);
    const auto large = DocReader::childLimitsFor(20 << 20);
    const auto huge = DocReader::childLimitsFor(std::uintmax_t{1} << 40);
    EXPECT_LT(small.time, large.time);
    EXPECT_LT(small.memory, large.memory);
    EXPECT_LE(huge.time, std::chrono::seconds(60));
    EXPECT_LE(huge.memory, std::size_t{2} << 30);
    EXPECT_LE(small.time, std::chrono::seconds(10));
}

// The readers (probe programs) whose parent is the process `parent`: the pids.
std::vector<pid_t> readersOf(pid_t parent) {
    std::vector<pid_t> readers;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline");
        std::string program, parentArgument;
        std::getline(cmdline, program, '\0');
        std::getline(cmdline, parentArgument, '\0');
        if (program == CW_DOC_READER_PROBES && parentArgument == std::to_string(parent))
            readers.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    }
    return readers;
}

// Whether the process `pid` has ended (gone, or a zombie waiting for its new parent).
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const auto close = line.rfind(')');
    return close == std::string::npos || line.substr(close + 2, 1) == "Z";
}

// Polls `done` until it holds; false after a minute.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 6000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A cancel ends the read at once, the reader killed and reaped: no process of it is left.
TEST(DocReader, ACancelKillsAndReapsTheReader) {
    const std::string sample = CW_FIXTURES_DIR "/script-sample.doc";
    std::atomic<bool> cancelled{false};
    std::vector<pid_t> readers;
    std::thread canceller([&] {
        eventually([&] { return !(readers = readersOf(::getpid())).empty(); });
        cancelled = true;
    });
    std::string error;
    try {
        DocReader::readFile(sample, {std::chrono::hours(1), std::size_t{512} << 20}, probing("hang"),
                            &cancelled);
    } catch (const CodecError& e) {
        error = e.what();
    }
    canceller.join();
    EXPECT_TRUE(error.ends_with("was cancelled.")) << error;
    ASSERT_EQ(readers.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(readers[0]))) << "not reaped";
}

// Run in a process of its own by the next test, which kills it while it waits for its reader.
TEST(DocReader, DISABLED_ReadsForever) {
    DocReader::readFile(CW_FIXTURES_DIR "/script-sample.doc", {std::chrono::hours(1), std::size_t{512} << 20},
                        probing("hang"));
}

// A reader whose parent dies (killed, no chance to clean up) dies too.
TEST(DocReader, AReaderWhoseParentDiesGoesToo) {
    QProcess parent;
    parent.setProcessChannelMode(QProcess::ForwardedChannels);
    parent.start(QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string()),
                 {"--gtest_also_run_disabled_tests", "--gtest_filter=DocReader.DISABLED_ReadsForever"});
    ASSERT_TRUE(parent.waitForStarted());
    const auto parentPid = static_cast<pid_t>(parent.processId());
    std::vector<pid_t> readers;
    ASSERT_TRUE(eventually([&] { return !(readers = readersOf(parentPid)).empty(); })) << "no reader started";
    ::kill(parentPid, SIGKILL);
    ASSERT_TRUE(parent.waitForFinished());
    EXPECT_TRUE(eventually([&] { return ended(readers[0]); })) << "the reader outlived its parent";
    ::kill(readers[0], SIGKILL);
}

} // namespace
