#include "cuewright/model/Resources.h"

#include <QFile>
#include <QString>

namespace cw {

std::optional<std::string> resourceText(std::string_view name, std::string_view type) {
    QFile file(QStringLiteral(":/%1.%2").arg(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
                                             QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()))));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll().toStdString();
}

} // namespace cw
