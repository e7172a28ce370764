// libFuzzer target: strict UTF-8 decoding of arbitrary bytes, straight and through a file.
#include "platform/text/PlainText.h"

#include "FuzzWorkFolder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<QString> text = platform::decodeUtf8Strict(bytes);
    // Accepted text is the bytes exactly, less byte-order marks at the start (Qt drops a second).
    if (text) {
        const QByteArray back = text->toUtf8();
        QByteArrayView rest = bytes;
        while (rest.size() > back.size() && rest.startsWith("\xEF\xBB\xBF"))
            rest = rest.sliced(3);
        if (back != rest)
            __builtin_trap();
    }

    // The file reader takes and refuses the same inputs.
    const std::filesystem::path file = fuzzsupport::workFolder("plain-text") / "input.txt";
    fuzzsupport::writeFile(file, data, size);
    bool read = true;
    try {
        platform::readPlainTextFile(QString::fromStdString(file.string()));
    } catch (const platform::PlainTextError&) {
        read = false;
    }
    if (read != text.has_value())
        __builtin_trap();
    return 0;
}
