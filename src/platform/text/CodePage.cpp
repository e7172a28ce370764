#include "platform/text/CodePage.h"

#include <QStringDecoder>

#include <map>
#include <mutex>

namespace platform {

static const char* icuName(int number) {
    switch (number) {
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 874:
        return "windows-874";
    case 932:
        return "windows-31j";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 1250:
        return "windows-1250";
    case 1251:
        return "windows-1251";
    case 1252:
        return "windows-1252";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    case 10000:
        return "macintosh";
    default:
        return nullptr;
    }
}

static bool isMultiByte(int number) {
    return number == 932 || number == 936 || number == 949 || number == 950;
}

CodePage::CodePage(int number, bool singleByte)
    : number_(number)
    , singleByte_(singleByte) {
    for (int b = 0; b < 128; ++b) {
        table_[b] = char16_t(b);
    }
    if (!singleByte) {
        return;
    }
    QStringDecoder decoder(icuName(number));
    for (int b = 128; b < 256; ++b) {
        const char byte = char(b);
        const QString s = decoder.isValid() ? decoder.decode(QByteArrayView(&byte, 1)) : QString();
        decoder.resetState();
        table_[b] = s.size() == 1 ? s[0].unicode() : char16_t(0xFFFD);
    }
}

std::shared_ptr<const CodePage> CodePage::get(int number) {
    if (icuName(number) == nullptr) {
        number = 1252;
    }
    static std::mutex mutex;
    static std::map<int, std::shared_ptr<const CodePage>> pages;
    std::lock_guard lock(mutex);
    auto& page = pages[number];
    if (!page) {
        page = std::make_shared<CodePage>(number, !isMultiByte(number));
    }
    return page;
}

int CodePage::forCharset(int charset) {
    switch (charset) {
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 255:
        return 437;
    default:
        return 0;
    }
}

QString CodePage::decode(const QByteArray& bytes) const {
    if (singleByte_) {
        QString s(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            s[i] = QChar(table_[static_cast<unsigned char>(bytes[i])]);
        }
        return s;
    }
    QStringDecoder decoder(icuName(number_));
    return decoder.isValid() ? decoder.decode(bytes) : QString::fromLatin1(bytes);
}

int cp1252Byte(char16_t c) {
    if (c >= 0xA0 && c <= 0xFF) {
        return c;
    }
    static const char16_t high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int i = 0; i < 32; ++i) {
        if (high[i] == c && c != 0) {
            return 0x80 + i;
        }
    }
    return -1;
}

} // namespace platform
