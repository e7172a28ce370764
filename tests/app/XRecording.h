// What the X server sees, through RECORD on connections of the test's own. Include it after gtest,
// which uses Xlib's names.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/record.h>

#include <functional>
#include <vector>

namespace endtoend {

// Records `ranges` of what `client` (a resource of one client, or XRecordAllClients) sends or
// receives; process() hands each record to the handler, which owns nothing of it after the call.
class XRecording {
public:
    using Handler = std::function<void(const XRecordInterceptData& record)>;

    XRecording(const std::vector<XRecordRange>& ranges, XRecordClientSpec client, Handler handler)
        : control_(XOpenDisplay(nullptr))
        , data_(XOpenDisplay(nullptr))
        , handler_(std::move(handler)) {
        std::vector<XRecordRange*> pointers;
        for (const XRecordRange& range : ranges) {
            pointers.push_back(XRecordAllocRange());
            *pointers.back() = range;
        }
        context_ = XRecordCreateContext(control_, 0, &client, 1, pointers.data(), int(pointers.size()));
        for (XRecordRange* range : pointers) {
            XFree(range);
        }
        XSync(control_, False);
        enabled_ = context_ != 0 && XRecordEnableContextAsync(data_, context_, &XRecording::intercept,
                                                              reinterpret_cast<XPointer>(this)) != 0;
    }
    ~XRecording() {
        if (context_ != 0) {
            XRecordDisableContext(control_, context_);
            XRecordFreeContext(control_, context_);
            XSync(control_, False);
        }
        XCloseDisplay(data_);
        XCloseDisplay(control_);
    }
    XRecording(const XRecording&) = delete;
    XRecording& operator=(const XRecording&) = delete;

    bool isRecording() const { return enabled_; }
    // Hands what the server recorded until now to the handler, in the server's order.
    void process() { XRecordProcessReplies(data_); }
    // A connection of the recording's own, for asking the server (atoms, extensions).
    Display* connection() const { return control_; }

private:
    static void intercept(XPointer closure, XRecordInterceptData* record) {
        const auto* self = reinterpret_cast<XRecording*>(closure);
        if (record->data != nullptr) {
            self->handler_(*record);
        }
        XRecordFreeData(record);
    }

    Display* control_;
    Display* data_;
    Handler handler_;
    XRecordContext context_ = 0;
    bool enabled_ = false;
};

} // namespace endtoend
