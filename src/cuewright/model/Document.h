// The script as a value: its display properties, its speed and its text.
#pragma once

#include "cuewright/model/ScriptProperties.h"
#include "cuewright/model/SpeedProperties.h"
#include "platform/text/AttributedString.h"

namespace cw {

struct Document {
    using ScriptProperties = DocumentScriptProperties;
    using SpeedProperties = DocumentSpeedProperties;

    ScriptProperties scriptProperties;
    SpeedProperties speedProperties;
    platform::AttributedString text;

    bool operator==(const Document&) const = default;
};

} // namespace cw
