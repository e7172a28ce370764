// DOC reading through libwv, on a Word 97 file that LibreOffice wrote.
#include "platform/codecs/CodecError.h"
#include "platform/codecs/DocReader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// The document's bytes sealed until the reader is confined, standing in for libgsf's own memory
// input (which DocReader hands the bytes to before confinement): while `armed`, the bytes are
// copied into pages that cannot be read until `unseal()`, which the confined probe calls. A read
// of any byte of the document before confinement faults, and the file is reported damaged.
namespace sealing {
bool armed = false;
bool confined = false;
void* pages = nullptr;
std::size_t pagesSize = 0;

void unseal() {
    confined = true;
    if (pages != nullptr)
        ::mprotect(pages, pagesSize, PROT_READ);
}
} // namespace sealing

extern "C" void* gsf_input_memory_new(const unsigned char* buffer, long long length, int needsFree) {
    using Real = void* (*)(const unsigned char*, long long, int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "gsf_input_memory_new"));
    if (!sealing::armed || sealing::confined || length <= 0)
        return real(buffer, length, needsFree);
    const long page = ::sysconf(_SC_PAGESIZE);
    sealing::pagesSize = (static_cast<std::size_t>(length) + page - 1) / page * page;
    sealing::pages =
        ::mmap(nullptr, sealing::pagesSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (sealing::pages == MAP_FAILED)
        ::abort();
    std::memcpy(sealing::pages, buffer, static_cast<std::size_t>(length));
    ::mprotect(sealing::pages, sealing::pagesSize, PROT_NONE);
    return real(static_cast<const unsigned char*>(sealing::pages), length, /*needs_free=*/0);
}

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

bool reportedDamaged(const std::string& path, const DocReader::ChildLimits& limits,
                     const DocReader::ConfinedProbe& probe = {}) {
    try {
        DocReader::readFile(path, limits, probe);
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
                            [] { ::syscall(SYS_exit_group, 3); });
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
    sealing::armed = true;
    std::size_t paragraphs = 0;
    try {
        paragraphs = DocReader::readFile(sample, DocReader::childLimitsFor(QFile(sample.c_str()).size()),
                                         sealing::unseal)
                         .paragraphs.size();
    } catch (const CodecError& error) {
        ADD_FAILURE() << "a byte was read before confinement: " << error.what();
    }
    sealing::armed = false;
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
    struct Case {
        const char* name;
        DocReader::ConfinedProbe probe;
    };
    const Case cases[] = {
        {"opening another file", [] { (void)::open("/etc/passwd", O_RDONLY | O_CLOEXEC); }},
        {"making a socket", [] { (void)::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }},
        {"signalling another process", [] { (void)::kill(::getppid(), 0); }},
        {"making memory executable",
         [] { (void)::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); }},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(reportedDamaged(sample, limits, c.probe)) << c.name;
    // A path cannot even be looked up, in any form of stat (the reader goes on without).
    const auto lookups = [] {
        struct stat status {};
        if (::stat("/etc/passwd", &status) == 0 ||
            ::syscall(SYS_newfstatat, AT_FDCWD, "/etc/passwd", &status, AT_EMPTY_PATH) == 0)
            ::abort();
    };
    EXPECT_EQ(DocReader::readFile(sample, limits, lookups).paragraphs.size(), 4u) << "a path was looked up";
    // What reading needs is still allowed, the character-set conversions included.
    const RichDocument doc = DocReader::readFile(sample, limits, [] {});
    ASSERT_EQ(doc.paragraphs.size(), 4u);
    EXPECT_EQ(doc.paragraphs[3].plainText(), QString::fromUtf8("Large café — naïve"));
}

} // namespace
