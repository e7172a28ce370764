#include "platform/codecs/DocReader.h"

#include "base/Log.h"
#include "base/RegularFile.h"
#include "platform/codecs/CodecError.h"
#include "platform/codecs/ListLabels.h"
#include "platform/codecs/ReadLimits.h"
#include "platform/codecs/ReaderConfinement.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

#include <gsf/gsf-input-memory.h>
#include <wv/wv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace platform::codecs {

namespace {

// libwv crashes on some damaged files and loops or grows without end on others, so it runs in a
// reader process that sends the document back through a pipe; a reader that dies, outlasts its
// time or runs out of its memory is a damaged file, not a crash of ours. What the reader may
// build is bounded by ReadLimits, and so is what it may send.
constexpr qsizetype maxReply = qsizetype{256} << 20;

// The reader's status when the system refused to confine it: it parsed nothing.
constexpr int cannotConfine = 3;

// Far beyond any script; the whole file is held in memory while the reader reads it.
constexpr off_t maxDocumentBytes = off_t{1} << 30;

// Ends the reader at once: no exit handlers, and none of a sanitizer's checks at exit, which would
// make calls the confined reader may not make.
[[noreturn]] void leave(int status) {
    ::syscall(SYS_exit_group, status);
    __builtin_unreachable();
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

NumberFormat numberFormat(unsigned nfc) {
    switch (nfc) {
    case 1:
        return NumberFormat::upperRoman;
    case 2:
        return NumberFormat::lowerRoman;
    case 3:
        return NumberFormat::upperLetter;
    case 4:
        return NumberFormat::lowerLetter;
    case 22:
        return NumberFormat::decimalZero;
    case 23:
        return NumberFormat::bullet;
    case 255:
        return NumberFormat::none;
    default: // decimal, and the formats of other scripts and of words: their numbers
        return NumberFormat::decimal;
    }
}

ListLevel listLevel(const LVL& lvl) {
    ListLevel level;
    level.format = numberFormat(lvl.lvlf.nfc);
    level.start = static_cast<int>(std::min<U32>(lvl.lvlf.iStartAt, 0x7FFFFFFF));
    level.restartBelow = lvl.lvlf.fNoRestart ? 0 : -1;
    level.legal = lvl.lvlf.fLegal;
    level.suffix = lvl.lvlf.ixchFollow == 1   ? QStringLiteral(" ")
                   : lvl.lvlf.ixchFollow == 2 ? QString()
                                              : QStringLiteral("\t");
    // The number text counts its characters first; the level numbers it shows are characters 0 to
    // 8 at the places rgbxchNums lists.
    if (lvl.numbertext) {
        const int length = std::min<int>(lvl.numbertext[0], maxLabelPattern);
        const auto placeholder = [&](int at) {
            return std::find(std::begin(lvl.lvlf.rgbxchNums), std::end(lvl.lvlf.rgbxchNums), at) !=
                   std::end(lvl.lvlf.rgbxchNums);
        };
        for (int at = 1; at <= length; ++at) {
            const XCHAR c = lvl.numbertext[at];
            if ((c < listLevels && placeholder(at)) || c >= 0x20)
                level.pattern += QChar(c);
        }
    }
    level.pattern = bulletText(level.pattern, /*symbolFont=*/false);
    return level;
}

// The labels of the document's lists (its LST and LFO tables, as libwv read them). Paragraphs of
// one list definition count on together unless their list overrides a level's start, which gives
// it counters of its own.
class DocumentLists {
public:
    QString label(const wvParseStruct& ps, const PAP& pap) {
        // Paragraphs of one list come in runs: its levels are read once for each run.
        if (pap.ilfo != list_) {
            list_ = pap.ilfo;
            levelCount_ = load(ps, pap.ilfo);
        }
        if (levelCount_ == 0)
            return {};
        return counters_[counter_].advance(std::min<int>(pap.ilvl, levelCount_ - 1), levels_);
    }

private:
    // Reads the levels of the list ilfo names (one-based) and which counter it counts with; returns
    // how many levels it has, 0 when it names no list.
    int load(const wvParseStruct& ps, S16 ilfo) {
        if (ilfo <= 0 || ps.lfo == nullptr || static_cast<U32>(ilfo) > ps.nolfo)
            return 0;
        const std::size_t index = static_cast<std::size_t>(ilfo) - 1;
        const LFO& lfo = ps.lfo[index];
        LST* lst = wvSearchLST(lfo.lsid, ps.lst, ps.noofLST);
        if (lst == nullptr || lst->lvl == nullptr)
            return 0;
        const int count = lst->lstf.fSimpleList ? 1 : listLevels;
        levels_ = ListLevels{};
        for (int level = 0; level < count; ++level)
            levels_[static_cast<std::size_t>(level)] = listLevel(lst->lvl[level]);
        counter_ = lfo.lsid;
        if (lfo.clfolvl > 0) {
            counter_ = (std::uint64_t{1} << 32) | index;
            const std::size_t first = overridesBefore(ps, index);
            for (std::size_t at = first; at < first + lfo.clfolvl && at < ps.nooflvl && ps.lfolvl; ++at) {
                const LFOLVL& override = ps.lfolvl[at];
                if (override.fStartAt && override.ilvl < static_cast<U32>(count))
                    levels_[override.ilvl].start =
                        static_cast<int>(std::min<U32>(override.iStartAt, 0x7FFFFFFF));
            }
        }
        return count;
    }

    // Where the level overrides of the list at index begin: each list's follow the ones before it.
    std::size_t overridesBefore(const wvParseStruct& ps, std::size_t index) {
        if (firstOverride_.empty()) {
            std::size_t sum = 0;
            firstOverride_.reserve(ps.nolfo);
            for (U32 each = 0; each < ps.nolfo; ++each) {
                firstOverride_.push_back(sum);
                sum += ps.lfo[each].clfolvl;
            }
        }
        return firstOverride_[index];
    }

    std::map<std::uint64_t, ListCounter> counters_;
    std::vector<std::size_t> firstOverride_;
    // The list read last: its number (ilfo), levels and counter.
    S16 list_ = 0;
    int levelCount_ = 0;
    ListLevels levels_;
    std::uint64_t counter_ = 0;
};

// What the handlers build while libwv walks the document. A table row becomes one paragraph: its
// cells joined by tabs, the paragraphs of a cell by line breaks.
struct Walk {
    BoundedDocument document{ReadLimits{}};
    RunStyle style;
    ParagraphAlignment alignment = ParagraphAlignment::natural;
    bool paragraphPending = true;
    // The paragraph libwv reads lies in a table cell, or is the end mark of a table row.
    bool inTable = false;
    bool rowEnd = false;
    // What comes before the next text of a row: a tab, a line break or nothing (0).
    char16_t separator = 0;
    // The list label of the paragraph, until its first character takes the paragraph's look.
    QString label;
    DocumentLists lists;
    // One entry per open field: true while its code runs, false once its shown result does.
    std::vector<bool> fields;
    // Why the document was refused (a bound passed); kept until libwv returns, since an exception
    // must not unwind through it.
    std::optional<std::string> refusal;

    void ensureParagraph() {
        if (!paragraphPending)
            return;
        document.startParagraph(alignment);
        paragraphPending = false;
    }
    // The paragraph's start (and what waits before its text) in place for text to follow.
    void beginText() {
        ensureParagraph();
        if (separator != 0)
            document.append(QString(QChar(std::exchange(separator, 0))), style);
        if (!label.isEmpty())
            document.append(std::exchange(label, QString()), style);
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
            if (inTable && !rowEnd && (c == 13 || c == 7)) {
                beginText();
                separator = c == 7 || separator == u'\t' ? u'\t' : lineSeparator;
                return;
            }
            if (!rowEnd)
                beginText();
            separator = 0;
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
        beginText();
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
    Walk& walk = walkOf(ps);
    if (walk.refusal)
        return 0;
    try {
        walk.character(static_cast<char16_t>(eachchar));
    } catch (const CodecError& error) {
        walk.refusal = error.what();
    }
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
        const PAP& pap = *static_cast<PAP*>(props);
        walk.alignment = paragraphAlignment(pap.jc);
        walk.inTable = pap.fInTable != 0;
        walk.rowEnd = pap.fInTable != 0 && pap.fTtp != 0;
        // A row left without its end mark ends where the table does.
        if (!walk.inTable && walk.separator != 0) {
            walk.separator = 0;
            walk.paragraphPending = true;
        }
        walk.label = walk.rowEnd ? QString() : walk.lists.label(*ps, pap);
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

// Runs libwv over the document's bytes in this process; `confine` runs before libwv looks at a
// single one of them, once everything it loads on demand is loaded. `path` only names the file in
// messages. Throws CodecError.
RichDocument walkDocument(const QByteArray& bytes, const std::string& path,
                          const std::function<void()>& confine) {
    wvInit();
    // What libwv loads on demand is loaded while files may still be opened: the code page
    // converters, and (through language 0x20) the locale's character set.
    preloadCharacterSets();
    (void)wvHandleCodePage('A', 0x20);
    GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.constData()), bytes.size(),
                                           /*needs_free=*/FALSE);
    confine();
    wvParseStruct ps{};
    if (input == nullptr || wvInitParser_gsf(&ps, input) != 0) {
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
    if (walk.refusal)
        throw CodecError(*walk.refusal);
    if (result != 0)
        throw CodecError("'" + path + "' is a damaged Word document.");
    return std::move(walk.document.document);
}

void writeColor(QDataStream& out, const std::optional<RgbColor>& color) {
    out << color.has_value() << quint8(color ? color->red : 0) << quint8(color ? color->green : 0)
        << quint8(color ? color->blue : 0);
}

std::optional<RgbColor> readColor(QDataStream& in) {
    bool has = false;
    quint8 red = 0, green = 0, blue = 0;
    in >> has >> red >> green >> blue;
    if (!has)
        return std::nullopt;
    return RgbColor{red, green, blue};
}

// The reader's reply: true and the document, or false and the error's text.
QByteArray encodeReply(const QByteArray& input, const std::string& path,
                       const std::function<void()>& confine) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    try {
        const RichDocument document = walkDocument(input, path, confine);
        out << true << quint32(document.paragraphs.size());
        for (const Paragraph& paragraph : document.paragraphs) {
            out << quint8(paragraph.alignment) << quint32(paragraph.runs.size());
            for (const TextRun& run : paragraph.runs) {
                const RunStyle& style = run.style;
                out << run.text << style.fontFamily.has_value() << style.fontFamily.value_or(QString())
                    << style.pointSize.has_value() << style.pointSize.value_or(0) << style.bold
                    << style.italic << quint8(style.underline);
                writeColor(out, style.foreground);
                writeColor(out, style.background);
            }
        }
    } catch (const CodecError& error) {
        bytes.clear();
        QDataStream failure(&bytes, QIODevice::WriteOnly);
        failure << false << QString::fromStdString(error.what());
    }
    return bytes;
}

// A run's text as a document may hold it: what the reader sent is not trusted to be text, and
// noncharacters or halves of a surrogate pair would not survive a save as DOCX or RTF.
QString documentText(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            result += c;
            result += text[++i];
        } else if (!c.isSurrogate() && c.unicode() != 0xFFFE && c.unicode() != 0xFFFF) {
            result += c;
        }
    }
    return result;
}

RichDocument decodeReply(const QByteArray& bytes, const std::string& path) {
    const CodecError damaged("'" + path + "' is a damaged Word document.");
    QDataStream in(bytes);
    bool ok = false;
    in >> ok;
    if (!ok) {
        QString message;
        in >> message;
        if (in.status() != QDataStream::Ok || message.isEmpty())
            throw damaged;
        throw CodecError(message.toStdString());
    }
    BoundedDocument document{ReadLimits{}};
    quint32 paragraphs = 0;
    in >> paragraphs;
    for (quint32 p = 0; p < paragraphs && in.status() == QDataStream::Ok; ++p) {
        quint8 alignment = 0;
        quint32 runs = 0;
        in >> alignment >> runs;
        document.startParagraph(static_cast<ParagraphAlignment>(
            std::min<quint8>(alignment, quint8(ParagraphAlignment::justified))));
        for (quint32 r = 0; r < runs && in.status() == QDataStream::Ok; ++r) {
            TextRun run;
            bool hasFamily = false, hasSize = false;
            QString family;
            double size = 0;
            quint8 underline = 0;
            in >> run.text >> hasFamily >> family >> hasSize >> size >> run.style.bold >> run.style.italic >>
                underline;
            if (hasFamily)
                run.style.fontFamily = family;
            if (hasSize)
                run.style.pointSize = size;
            run.style.underline =
                static_cast<UnderlineStyle>(std::min<quint8>(underline, quint8(UnderlineStyle::wavy)));
            run.style.foreground = readColor(in);
            run.style.background = readColor(in);
            document.append(documentText(run.text), run.style);
        }
    }
    if (in.status() != QDataStream::Ok)
        throw damaged;
    return std::move(document.document);
}

// Sets a resource limit, never above the hard limit this process already has.
bool lowerLimit(int resource, rlim_t value) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0)
        return false;
    if (limit.rlim_max != RLIM_INFINITY)
        value = std::min(value, limit.rlim_max);
    limit = rlimit{value, value};
    return setrlimit(resource, &limit) == 0;
}

// The address space this process has mapped now.
rlim_t mappedBytes() {
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    statm >> pages;
    return pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// Where the reader finds what readFile() hands it.
constexpr int documentDescriptor = 3;
constexpr int replyDescriptor = 4;
// readFile()'s arguments: parent's pid, memory, CPU seconds, the path for messages.
constexpr int protocolArguments = 5;

// The whole document from `fd`; nullopt when it cannot be read or is too large.
std::optional<QByteArray> readAll(int fd) {
    QByteArray bytes;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || bytes.size() + got > maxDocumentBytes)
            return std::nullopt;
        if (got == 0)
            return bytes;
        bytes.append(chunk, got);
    }
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

// Reads the reader's whole reply; nullopt when it outlasts the deadline, says too much or the read
// is cancelled.
std::optional<QByteArray> readReply(int input, std::chrono::milliseconds time,
                                    const std::atomic<bool>* cancelled) {
    // How often a cancel is looked at while the reader works.
    constexpr auto cancelCheck = std::chrono::milliseconds(50);
    QByteArray reply;
    const auto deadline = std::chrono::steady_clock::now() + time;
    char chunk[64 * 1024];
    for (;;) {
        if (cancelled && cancelled->load())
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd watch{input, POLLIN, 0};
        const int ready = poll(&watch, 1, static_cast<int>(std::min(left, cancelCheck).count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return std::nullopt;
        if (ready == 0)
            continue;
        const ssize_t got = read(input, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return reply;
        if (reply.size() + got > maxReply)
            return std::nullopt;
        reply.append(chunk, got);
    }
}

// The readers running now, as pidfds: killed when the process exits, so that none outlives it.
struct RunningReaders {
    std::mutex mutex;
    std::set<int> pidfds;
};

RunningReaders& runningReaders() {
    // Never destroyed: readers may still be waited for while the process exits.
    static auto* readers = new RunningReaders;
    static std::once_flag atExit;
    std::call_once(atExit, [] {
        std::atexit([] {
            RunningReaders& running = *readers;
            const std::lock_guard lock(running.mutex);
            for (const int pidfd : running.pidfds) {
                ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
                siginfo_t info{};
                while (::waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED) < 0 && errno == EINTR) {
                }
            }
        });
    });
    return *readers;
}

// A reader started and registered; killed (when still running) and reaped when it goes.
class ReaderProcess {
public:
    ReaderProcess(pid_t pid, int pidfd)
        : pid_(pid)
        , pidfd_(pidfd) {
        if (pidfd_ >= 0) {
            RunningReaders& running = runningReaders();
            const std::lock_guard lock(running.mutex);
            running.pidfds.insert(pidfd_);
        }
    }
    ReaderProcess(const ReaderProcess&) = delete;
    ReaderProcess& operator=(const ReaderProcess&) = delete;
    ~ReaderProcess() {
        if (!reaped_) {
            kill();
            (void)wait();
        }
        if (pidfd_ >= 0) {
            RunningReaders& running = runningReaders();
            const std::lock_guard lock(running.mutex);
            running.pidfds.erase(pidfd_);
            ::close(pidfd_);
        }
    }
    void kill() {
        if (pidfd_ >= 0)
            ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
        else if (!reaped_)
            ::kill(pid_, SIGKILL);
    }
    // The reader's wait status once it has ended; nullopt when another waiter reaped it (at exit).
    std::optional<int> wait() {
        int status = 0;
        pid_t got;
        while ((got = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        if (got != pid_)
            return std::nullopt;
        return status;
    }

private:
    pid_t pid_;
    int pidfd_;
    bool reaped_ = false;
};

// A descriptor's copy at 10 or above, so that placing the reader's descriptors at 3 and 4 never
// overwrites one before it is placed.
int highCopy(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
}

struct ReaderProgramSetting {
    std::mutex mutex;
    std::optional<DocReader::ReaderProgram> program;
};

ReaderProgramSetting& readerProgramSetting() {
    static ReaderProgramSetting setting;
    return setting;
}

// Starts `program` on the document `documentFd` with the reply going to `replyFd`; the reader's
// pid, or -1.
pid_t startReader(const DocReader::ReaderProgram& program, const std::string& path, int documentFd,
                  int replyFd, std::size_t memory, rlim_t cpuSeconds) {
    std::vector<std::string> arguments = {program.path, std::to_string(::getpid()), std::to_string(memory),
                                          std::to_string(cpuSeconds), path};
    arguments.insert(arguments.end(), program.arguments.begin(), program.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, documentFd, documentDescriptor);
    posix_spawn_file_actions_adddup2(&actions, replyFd, replyDescriptor);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, replyDescriptor + 1);
    // The application's own signal handling (ignored signals, a blocked mask) is not the reader's.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program.path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : -1;
}

// Opens the document; the file's descriptor, for the reader. Throws CodecError.
base::RegularFile openDocument(const std::string& path) {
    try {
        base::RegularFile file = base::openRegularFile(path);
        if (file.size() > maxDocumentBytes)
            throw CodecError("The document is too large to open: '" + path + "'.");
        return file;
    } catch (const base::RegularFileError&) {
        throw CodecError("Could not open '" + path + "'.");
    }
}

} // namespace

DocReader::ChildLimits DocReader::childLimitsFor(std::uintmax_t fileSize) {
    constexpr std::uintmax_t mebibyte = 1 << 20;
    const std::uintmax_t mebibytes = fileSize / mebibyte + 1;
    return ChildLimits{std::chrono::seconds(std::min<std::uintmax_t>(5 + 2 * mebibytes, 60)),
                       static_cast<std::size_t>(std::min<std::uintmax_t>(512 * mebibyte + 16 * fileSize,
                                                                         std::uintmax_t{2048} * mebibyte))};
}

DocReader::ReaderProgram DocReader::readerProgram() {
    {
        ReaderProgramSetting& setting = readerProgramSetting();
        const std::lock_guard lock(setting.mutex);
        if (setting.program)
            return *setting.program;
    }
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    const std::filesystem::path folder = executable.parent_path();
    for (const std::filesystem::path& candidate :
         {folder / "cuewright-docreader", folder / ".." / "libexec" / "cuewright" / "cuewright-docreader"}) {
        if (::access(candidate.c_str(), X_OK) == 0)
            return {candidate.lexically_normal().string(), {}};
    }
    return {};
}

void DocReader::setReaderProgram(ReaderProgram program) {
    ReaderProgramSetting& setting = readerProgramSetting();
    const std::lock_guard lock(setting.mutex);
    setting.program = std::move(program);
}

RichDocument DocReader::readFile(const std::string& path, const std::atomic<bool>* cancelled) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return readFile(path, childLimitsFor(error ? 0 : size), readerProgram(), cancelled);
}

RichDocument DocReader::readFile(const std::string& path, const ChildLimits& limits,
                                 const ReaderProgram& program, const std::atomic<bool>* cancelled) {
    return withinMemory([&]() -> RichDocument {
        if (program.path.empty()) {
            base::log("the Word reader (cuewright-docreader) is not installed: '" + path + "' not read");
            throw CodecError("Could not read '" + path + "': the Word reader is not installed.");
        }
        const base::RegularFile file = openDocument(path);
        const auto cpuSeconds =
            static_cast<rlim_t>(std::chrono::ceil<std::chrono::seconds>(limits.time).count() + 1);
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0)
            throw CodecError("Could not read '" + path + "': no pipe for the Word reader.");
        const int document = highCopy(file.fd());
        const int reply = highCopy(pipeEnds[1]);
        close(pipeEnds[1]);
        const pid_t pid = document >= 0 && reply >= 0
                              ? startReader(program, path, document, reply, limits.memory, cpuSeconds)
                              : -1;
        for (const int fd : {document, reply})
            if (fd >= 0)
                close(fd);
        if (pid < 0) {
            close(pipeEnds[0]);
            throw CodecError("Could not read '" + path + "': no process for the Word reader.");
        }
        std::optional<int> status;
        std::optional<QByteArray> answer;
        {
            ReaderProcess reader(pid, static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
            answer = readReply(pipeEnds[0], limits.time, cancelled);
            close(pipeEnds[0]);
            if (!answer)
                reader.kill();
            status = reader.wait();
        }
        if (cancelled && cancelled->load())
            throw CodecError("Reading '" + path + "' was cancelled.");
        if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == cannotConfine) {
            base::log("the Word reader cannot be confined on this system (seccomp refused): '" + path +
                      "' not read");
            throw CodecError("Could not read '" + path +
                             "': Word documents cannot be read safely on this system.");
        }
        if (!answer || !status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
            throw CodecError("'" + path + "' is a damaged Word document.");
        return decodeReply(*answer, path);
    });
}

int DocReader::readerMain(int argc, char** argv, const ConfinedProbe& probe) {
    if (argc < protocolArguments)
        return 2;
    // Gone with the thread that started it; if that went before this line, at once.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (std::to_string(::getppid()) != argv[1])
        leave(1);
    const auto number = [](const char* text) {
        return static_cast<rlim_t>(std::strtoull(text, nullptr, 10));
    };
    const rlim_t memory = number(argv[2]);
    const rlim_t cpuSeconds = number(argv[3]);
    const std::string path = argv[4];
    // The code page the locale names, as the application has it.
    std::setlocale(LC_ALL, "");
    // If libwv calls exit(), this ends the reader before exit handlers (and a sanitizer's checks at
    // exit) make calls the confined reader may not make.
    std::atexit([] { leave(1); });
    // libwv and libgsf complain on stderr about every oddity of a file (to /dev/null now).
    dropInheritedDescriptors(documentDescriptor, replyDescriptor);
    // Past the limit an allocation fails and the reader dies of it; no core file of a damaged
    // document is wanted. The CPU limit backs up the parent's deadline.
    if (!lowerLimit(RLIMIT_CORE, 0) || !lowerLimit(RLIMIT_AS, mappedBytes() + memory) ||
        !lowerLimit(RLIMIT_CPU, cpuSeconds))
        leave(1);
    QByteArray reply;
    try {
        const std::optional<QByteArray> input = readAll(documentDescriptor);
        ::close(documentDescriptor);
        if (!input)
            leave(1);
        reply = encodeReply(*input, path, [&] {
            if (!confineToOpenFiles())
                leave(cannotConfine);
            if (probe)
                probe();
        });
    } catch (...) {
        leave(1);
    }
    leave(writeAll(replyDescriptor, reply) ? 0 : 1);
}

} // namespace platform::codecs
