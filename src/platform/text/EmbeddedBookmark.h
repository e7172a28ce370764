// The bookmark object that script text carries as an attribute.
#pragma once

#include <QMetaType>
#include <QString>

#include <memory>

namespace platform {

// A bookmark attached to a stretch of text. It has identity: runs carrying two different objects
// with the same fields stay separate runs, and copies of a text share the objects. Fields are
// plain and writable; owners mutate them on the main thread only.
class EmbeddedBookmark {
public:
    QString id;
    int location = 0;
    QString userBlurb;
    int sortOrder = -1;
};

using EmbeddedBookmarkPtr = std::shared_ptr<EmbeddedBookmark>;

} // namespace platform

Q_DECLARE_METATYPE(platform::EmbeddedBookmarkPtr)
