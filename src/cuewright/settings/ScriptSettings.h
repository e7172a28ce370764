// Writers of the colours and font that new scripts start with.
#pragma once

#include "platform/defaults/Defaults.h"
#include "platform/text/Color.h"
#include "platform/text/Font.h"

namespace cw::ScriptSettings {

// Each archives the value into the store under its key; nothing is posted (open scripts keep
// their own colours and font).
void setDefaultTextColor(const platform::Color& color,
                         platform::Defaults& defaults = platform::Defaults::standard());
void setDefaultBackgroundColor(const platform::Color& color,
                               platform::Defaults& defaults = platform::Defaults::standard());
void setDefaultFont(const platform::Font& font,
                    platform::Defaults& defaults = platform::Defaults::standard());

// The factory settings the resets store.
platform::Color factoryTextColor();
platform::Color factoryBackgroundColor();
// "Helvetica Neue" at 34 points, the system font at 34 points when that face is not installed.
platform::Font factoryFont();

} // namespace cw::ScriptSettings
