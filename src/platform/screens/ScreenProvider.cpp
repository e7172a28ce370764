#include "platform/screens/ScreenProvider.h"

#include "dispatch/MainThreadChecker.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QUuid>

#include <algorithm>
#include <vector>

namespace platform {

namespace {

// The namespace of Cuewright's display UUIDs; fixed forever, or stored display settings
// would no longer find their displays.
const QUuid kDisplayNamespace(QStringLiteral("7218af39-9f50-42ca-9f6c-4e71af14914d"));

QByteArray bytes(std::string_view s) {
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

std::string text(const QString& s) {
    return s.trimmed().toStdString();
}

} // namespace

std::optional<ScreenInfo> ScreenProvider::screenForDisplayUUID(std::string_view uuid) const {
    if (uuid.empty()) {
        return std::nullopt;
    }
    for (auto& screen : screens()) {
        if (screen.displayUUID == uuid) {
            return screen;
        }
    }
    return std::nullopt;
}

std::string ScreenProvider::displayUUID(std::string_view manufacturer, std::string_view model,
                                        std::string_view serialNumber, std::string_view connector) {
    const std::string_view last = serialNumber.empty() ? connector : serialNumber;
    if (manufacturer.empty() && model.empty() && last.empty()) {
        return {};
    }
    // Fields joined with a separator that no EDID string holds, so ("ab", "c") != ("a", "bc").
    QByteArray name = bytes(manufacturer);
    name.append('\n').append(bytes(model)).append('\n').append(bytes(last));
    return QUuid::createUuidV5(kDisplayNamespace, name)
        .toString(QUuid::WithoutBraces)
        .toUpper()
        .toStdString();
}

std::uint32_t ScreenProvider::displayIDFromUUIDString(const std::optional<std::string>& uuid) {
    if (!uuid || uuid->empty()) {
        return 0;
    }
    const QUuid parsed(QString::fromStdString(*uuid));
    if (parsed.isNull()) {
        return 0;
    }
    const std::uint32_t id = parsed.data1;
    return id != 0 ? id : 1;
}

std::string ScreenProvider::productName(std::string_view model, std::string_view connector) {
    if (!model.empty()) {
        return std::string(model);
    }
    return connector.empty() ? std::string("Unknown") : std::string(connector);
}

struct QtScreenProvider::Impl {
    std::function<void()> handler;
    std::unique_ptr<QObject> context = std::make_unique<QObject>();

    void watch(QScreen* screen) {
        auto notify = [this] {
            if (handler) {
                handler();
            }
        };
        QObject::connect(screen, &QScreen::geometryChanged, context.get(), notify);
        QObject::connect(screen, &QScreen::physicalDotsPerInchChanged, context.get(), notify);
    }
};

QtScreenProvider::QtScreenProvider()
    : impl_(std::make_unique<Impl>()) {
    CW_DCHECK_MAIN_THREAD();
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        return;
    }
    for (QScreen* s : QGuiApplication::screens()) {
        impl_->watch(s);
    }
    QObject::connect(app, &QGuiApplication::screenAdded, impl_->context.get(), [this](QScreen* s) {
        impl_->watch(s);
        if (impl_->handler) {
            impl_->handler();
        }
    });
    QObject::connect(app, &QGuiApplication::screenRemoved, impl_->context.get(), [this](QScreen*) {
        if (impl_->handler) {
            impl_->handler();
        }
    });
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, impl_->context.get(), [this](QScreen*) {
        if (impl_->handler) {
            impl_->handler();
        }
    });
}

QtScreenProvider::~QtScreenProvider() = default;

void ScreenProvider::tellApartAlike(std::vector<ScreenInfo>& screens) {
    for (std::size_t i = 1; i < screens.size(); ++i) {
        ScreenInfo& info = screens[i];
        if (info.displayUUID.empty()) {
            continue;
        }
        const std::string shared = info.displayUUID;
        const auto alike =
            std::count_if(screens.begin(), screens.begin() + static_cast<std::ptrdiff_t>(i),
                          [&](const ScreenInfo& earlier) {
                              return displayUUID(earlier.manufacturer, earlier.model, earlier.serialNumber,
                                                 earlier.connector) == shared;
                          });
        if (alike == 0) {
            continue;
        }
        const std::string place = "#" + std::to_string(alike + 1);
        info.displayUUID = displayUUID(info.manufacturer, info.model,
                                       info.serialNumber.empty() ? std::string() : info.serialNumber + place,
                                       info.connector + place);
        info.displayID = displayIDFromUUIDString(info.displayUUID);
    }
}

// What the screen itself tells of its display.
static ScreenInfo describeAlone(const QScreen& screen) {
    ScreenInfo info;
    info.connector = text(screen.name());
    info.manufacturer = text(screen.manufacturer());
    info.model = text(screen.model());
    info.serialNumber = text(screen.serialNumber());
    info.productName = ScreenProvider::productName(info.model, info.connector);
    info.displayUUID =
        ScreenProvider::displayUUID(info.manufacturer, info.model, info.serialNumber, info.connector);
    info.displayID = ScreenProvider::displayIDFromUUIDString(info.displayUUID);
    const QSize size = screen.size();
    if (size.width() > 0 && size.height() > 0) {
        info.size = ScreenSize{static_cast<double>(size.width()), static_cast<double>(size.height())};
    }
    const QRect g = screen.geometry();
    info.geometry = ScreenRect{static_cast<double>(g.x()), static_cast<double>(g.y()),
                               static_cast<double>(g.width()), static_cast<double>(g.height())};
    info.scale = screen.devicePixelRatio();
    return info;
}

static std::vector<ScreenInfo> describeEach(const QList<QScreen*>& list) {
    std::vector<ScreenInfo> result;
    for (const QScreen* s : list) {
        result.push_back(describeAlone(*s));
    }
    ScreenProvider::tellApartAlike(result);
    return result;
}

ScreenInfo QtScreenProvider::describe(const QScreen& screen) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        const QList<QScreen*> list = QGuiApplication::screens();
        const auto at = list.indexOf(&screen);
        if (at >= 0) {
            std::vector<ScreenInfo> all = describeEach(list);
            return all[static_cast<std::size_t>(at)];
        }
    }
    return describeAlone(screen);
}

std::vector<ScreenInfo> QtScreenProvider::screens() const {
    CW_DCHECK_MAIN_THREAD();
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return {};
    }
    return describeEach(QGuiApplication::screens()); // the primary screen comes first
}

void QtScreenProvider::setScreensChangedHandler(std::function<void()> handler) {
    CW_DCHECK_MAIN_THREAD();
    impl_->handler = std::move(handler);
}

} // namespace platform
