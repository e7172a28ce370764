// The e-mails to support: "mailto:" addresses and the system information of a support request.
#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace cw {

// Name, version and build number of this build; "UNKNOWN" for what the build does not say.
struct ApplicationInfo {
    QString name;
    QString version;
    QString build;

    static ApplicationInfo current();
};

inline constexpr const char* improvementSubject = "Cuewright: Improvement Suggestion";
inline constexpr const char* improvementBody = "I've got a great idea how to improve Cuewright:\n\n";
inline constexpr const char* supportSubject = "Cuewright Support";

// Percent-encodes every byte of the UTF-8 text outside the unreserved characters (letters,
// digits, "-", ".", "_", "~"), so "&", "=", "+", "?" and "#" cannot end a part early.
QByteArray encodeMailComponent(const QString& text);

// The recipient's address encoded for a "mailto:" URL: as above, but the characters an address
// may carry as they are ("@", "+" and the others of RFC 6068), so mail programs read it.
QByteArray encodeMailAddress(const QString& address);

// "mailto:" + recipient + "?subject=" + subject + "&body=" + body, each part encoded;
// nullopt when the result is not a valid URL.
std::optional<QUrl> mailtoUrl(const QString& to, const QString& subject, const QString& body);

// The machine's model from the firmware's DMI table; nullopt when it cannot be read or is empty.
std::optional<QString>
machineModel(const QString& productNameFile = QStringLiteral("/sys/class/dmi/id/product_name"));

// The support request's body: a block of system information between "----" lines, an empty
// line and "<Your message here>". A missing model reads "Unknown".
QString supportMailBody(const ApplicationInfo& app, const QString& osVersion,
                        const std::optional<QString>& model);

} // namespace cw
