// Windows and Mac code pages for decoding and encoding 8-bit RTF text.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <memory>

namespace platform {

// A code page: single-byte pages decode through a table, multi-byte ones (932, 936, 949, 950)
// through ICU. Unknown numbers fall back to 1252. Instances are shared and immutable.
class CodePage {
public:
    static std::shared_ptr<const CodePage> get(int number);
    // The code page of an RTF \fcharset value; 0 for "the document's".
    static int forCharset(int charset);

    int number() const { return number_; }
    bool isSingleByte() const { return singleByte_; }
    char16_t decodeByte(unsigned char byte) const { return table_[byte]; }
    QString decode(const QByteArray& bytes) const;

    CodePage(int number, bool singleByte);

private:
    int number_;
    bool singleByte_;
    std::array<char16_t, 256> table_{};
};

// The cp1252 byte of a character, or -1 when it has none above 0x7f.
int cp1252Byte(char16_t c);

} // namespace platform
