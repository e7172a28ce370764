// The interface through which views and controllers follow a project.
#pragma once

namespace platform {
class Color;
struct Font;
} // namespace platform

namespace cw {

class Project;
struct ScreenDescription;

// A follower of one or more projects. Every method has an empty default, so a listener
// overrides only what it follows.
//
// Calls always arrive on the main thread: directly when the change is made there, otherwise as
// main-queue tasks submitted in order (each holds the listener and the project until it runs).
// Listeners are called in ascending listenerPriority(); the order among equal priorities is the
// order of registration. A change that sends several notifications sends each to every
// listener before the next one starts.
//
// The project holds its listeners weakly: register a std::shared_ptr with
// Project::registerEventListener on the main thread; a listener that goes away drops out.
class ProjectEventListener {
public:
    virtual ~ProjectEventListener() = 0;

    virtual void projectTextDidChange(Project&) {}
    virtual void projectScriptPropertiesDidChange(Project&) {}
    virtual void projectSpeedDidChange(Project&) {}
    // Before the file is written. When saving off the main thread the save waits until every
    // listener has returned from this, so pending edits can be put into the project here.
    virtual void projectWillSave(Project&) {}
    virtual void projectDidSave(Project&) {}
    // Before the bookmarks are gathered (Project::bookmarks()), on the main thread. They are read
    // from the text with the editor's line table, which an edit updates at once: an edit still
    // waiting for its hand-over is handed over here, or every line after it is read off.
    virtual void projectWillGatherBookmarks(Project&) {}
    // On every clock tick and seek step, play, pause, every jump and every ffwdFactor change.
    virtual void projectTransportStateDidChange(Project&) {}
    virtual void projectEditorDidChange(Project&) {}
    virtual void projectPositionDidJump(Project&, bool /*animated*/, bool /*immediate*/) {}
    virtual void projectSeekDidStep(Project&, double /*from*/, double /*to*/, double /*step*/) {}
    virtual void projectDidStartPlayback(Project&) {}
    virtual void projectDidStopPlayback(Project&) {}
    virtual void projectLineCountDidChange(Project&) {}
    // The average words per line changed: figures in words per second or minute follow it.
    virtual void projectAverageWordsPerLineDidChange(Project&) {}
    virtual void projectTypingAttributesDidChange(Project&) {}
    virtual void projectTextColorDidChange(Project&, const platform::Color& /*color*/) {}
    virtual void projectFontDidChange(Project&, const platform::Font& /*font*/) {}
    virtual void projectScreenDescriptionDidChange(Project&, const ScreenDescription& /*screen*/) {}

    // Lower values hear of every change first; the editor and the prompter views use 0. Asked at
    // every notification, from whichever thread sends it: answer a constant.
    virtual int listenerPriority() const { return 10; }
};

inline ProjectEventListener::~ProjectEventListener() = default;

} // namespace cw
