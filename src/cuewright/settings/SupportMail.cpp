#include "cuewright/settings/SupportMail.h"

#include <QFile>

#ifndef CW_APP_VERSION
#define CW_APP_VERSION ""
#endif
#ifndef CW_BUILD_NUMBER
#define CW_BUILD_NUMBER ""
#endif

namespace cw {

static QString orUnknown(const char* text) {
    const QString s = QString::fromUtf8(text);
    return s.isEmpty() ? QStringLiteral("UNKNOWN") : s;
}

ApplicationInfo ApplicationInfo::current() {
    return {QStringLiteral("Cuewright"), orUnknown(CW_APP_VERSION), orUnknown(CW_BUILD_NUMBER)};
}

QByteArray encodeMailComponent(const QString& text) {
    // With no exceptions and no extra characters, only the unreserved set stays as it is.
    return text.toUtf8().toPercentEncoding();
}

QByteArray encodeMailAddress(const QString& address) {
    return address.toUtf8().toPercentEncoding("!$'()*+,;:@");
}

std::optional<QUrl> mailtoUrl(const QString& to, const QString& subject, const QString& body) {
    const QByteArray encoded = "mailto:" + encodeMailAddress(to) +
                               "?subject=" + encodeMailComponent(subject) +
                               "&body=" + encodeMailComponent(body);
    const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QString> machineModel(const QString& productNameFile) {
    QFile file(productNameFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString model = QString::fromUtf8(file.read(4096)).trimmed();
    if (model.isEmpty())
        return std::nullopt;
    return model;
}

QString supportMailBody(const ApplicationInfo& app, const QString& osVersion,
                        const std::optional<QString>& model) {
    return QStringLiteral("----\nApplication: ") + app.name + u' ' + app.version +
           QStringLiteral(" (Build ") + app.build + u')' + QStringLiteral(" (DP)") +
           QStringLiteral("\nOS: ") + osVersion + QStringLiteral("\nMachine model: ") +
           model.value_or(QStringLiteral("Unknown")) + QStringLiteral("\n----\n\n<Your message here>");
}

} // namespace cw
