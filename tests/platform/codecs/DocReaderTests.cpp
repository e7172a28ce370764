// DOC reading through libwv, on a Word 97 file that LibreOffice wrote.
#include "platform/codecs/CodecError.h"
#include "platform/codecs/DocReader.h"

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

TEST(DocReader, MissingAndForeignFilesFail) {
    QTemporaryDir dir;
    for (const QString& path : {QString("/nonexistent/file.doc"), notADocument(dir), dir.path()})
        EXPECT_THROW(DocReader::readFile(path.toStdString()), CodecError) << path.toStdString();
}

// The reader program with the probe `name` (see DocReaderProbes.cpp).
DocReader::ReaderProgram probing(const char* name) {
    return {CW_DOC_READER_PROBES, {name}};
}

bool reportedDamaged(const std::string& path, const DocReader::ChildLimits& limits,
                     const char* probe = "none") {
    try {
        DocReader::readFile(path, limits, probing(probe));
    } catch (const CodecError& error) {
        return std::string_view(error.what()).ends_with("is a damaged Word document.");
    }
    return false;
}

// The reader is confined before it parses a byte: even a file that is no Word document at all
// (refused by the first look of the parser) reaches the confined probe, which here ends the
// child with the status of a refused confinement.
TEST(DocReader, TheReaderIsConfinedBeforeItParses) {
    QTemporaryDir dir;
    try {
        DocReader::readFile(notADocument(dir).toStdString(), DocReader::childLimitsFor(64),
                            probing("refused"));
        ADD_FAILURE() << "read";
    } catch (const CodecError& error) {
        EXPECT_TRUE(std::string_view(error.what()).ends_with("cannot be read safely on this system."))
            << error.what();
    }
}

// Not one byte of the document is read before the reader is confined: the bytes stay sealed until
// the confined probe opens them, and the document still reads whole.
TEST(DocReader, NoByteOfTheDocumentIsReadBeforeTheReaderIsConfined) {
    const std::string sample = CW_FIXTURES_DIR "/script-sample.doc";
    std::size_t paragraphs = 0;
    try {
        paragraphs = DocReader::readFile(sample, DocReader::childLimitsFor(QFile(sample.c_str()).size()),
                                         probing("seal"))
                         .paragraphs.size();
    } catch (const CodecError& error) {
        ADD_FAILURE() << "a byte was read before confinement: " << error.what();
    }
    EXPECT_EQ(paragraphs, 4u);
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

// A reader that crashes, or runs past its time or memory, is a damaged file; the next read works.
TEST(DocReader, AChildThatCrashesOrRunsPastItsTimeOrMemoryIsADamagedFile) {
    const std::string sample = CW_FIXTURES_DIR "/script-sample.doc";
    // The LibreOffice fixture with a few bytes overwritten: libwv dies of it.
    EXPECT_THROW(DocReader::readFile(CW_FIXTURES_DIR "/damaged-word97.doc"), CodecError);
    EXPECT_TRUE(reportedDamaged(sample, {std::chrono::milliseconds(0), std::size_t{512} << 20}));
    // One table's length changed to 2 GB: libwv allocates and fills it, gigabytes within seconds.
    const std::string growing = CW_FIXTURES_DIR "/growing-word97.doc";
    EXPECT_TRUE(reportedDamaged(growing, DocReader::childLimitsFor(QFile(growing.c_str()).size())));
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 1 << 20) << "kilobytes at the peak of a child";
    EXPECT_EQ(DocReader::readFile(sample).paragraphs.size(), 4u);
}

TEST(DocReader, AReaderTakenOverByItsFileCanReachNothingElse) {
    const std::string sample = CW_FIXTURES_DIR "/script-sample.doc";
    const auto limits = DocReader::childLimitsFor(QFile(sample.c_str()).size());
    // Opening another file, making a socket, signalling another process, making memory executable.
    for (const char* probe : {"open", "socket", "signal", "exec-memory"})
        EXPECT_TRUE(reportedDamaged(sample, limits, probe)) << probe;
    // A path cannot even be looked up, in any form of stat (the reader goes on without).
    EXPECT_EQ(DocReader::readFile(sample, limits, probing("lookups")).paragraphs.size(), 4u)
        << "a path was looked up";
    // What reading needs is still allowed, the character-set conversions included.
    const RichDocument doc = DocReader::readFile(sample, limits, probing("none"));
    ASSERT_EQ(doc.paragraphs.size(), 4u);
    EXPECT_EQ(doc.paragraphs[3].plainText(), QString::fromUtf8("Large café — naïve"));
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
