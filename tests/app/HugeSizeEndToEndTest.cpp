// The real cuewright binary at sizes whose pixels no image can hold (a scale factor of 50, a window
// asked for at 99999 × 99999): its editor and a prompter window show and it quits as usual, where
// drawing the transport bar's artwork into such a window crashed.
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

using namespace endtoend;

namespace {

class HugeSizeEndToEnd : public AppTest {};

TEST_F(HugeSizeEndToEnd, TheWindowsShowAndTheApplicationQuits) {
    struct Case {
        const char* name;
        QStringList arguments;
        const char* scaleFactor;
    };
    const Case cases[] = {
        {"scale factor 50", {}, "50"},
        {"window geometry 99999x99999", {"-qwindowgeometry", "99999x99999"}, nullptr},
    };
    const std::filesystem::path script = makeScript("huge.cwr", QStringLiteral("Good evening.\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QProcessEnvironment env = environment;
        if (c.scaleFactor) {
            env.insert("QT_SCALE_FACTOR", c.scaleFactor);
        }
        QProcess& app = start(QStringList(c.arguments) << pathArg(script), env);
        const std::optional<Window> editor = waitForWindow(app, "huge.cwr");
        ASSERT_TRUE(editor) << "no editor window";
        // The prompter opens from a key the editor took after it was shown and painted.
        ASSERT_TRUE(activate(*editor));
        ASSERT_TRUE(xdotool({"key", "ctrl+shift+p"}));
        ASSERT_TRUE(waitForWindow(app, "Prompter Window")) << "no prompter window";
        screenshot((std::string("huge-size-") + (c.scaleFactor ? "scale" : "geometry") + ".png").c_str());
        EXPECT_TRUE(quit(app, *editor)) << "exit status " << app.exitStatus() << ", code " << app.exitCode();
    }
}

} // namespace

CW_END_TO_END_MAIN()
