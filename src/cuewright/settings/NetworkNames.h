// Names that came from the network (DNS-SD service and host names, a server's script name) as
// the remote-control window shows them.
#pragma once

#include <QString>
#include <QStringView>

namespace cw {

// `name` with every character that would act instead of showing made visible: C0 and C1 controls
// and DEL become their control pictures ("␀".."␟", "␡") or "[U+0085]", and the bidirectional
// formatting characters (embeddings, overrides, isolates, the directional marks) and the line and
// paragraph separators become "[U+202E]" and the like. A name holding U+202E therefore reads in
// the order it was sent, never reversed. Everything else is kept as it is.
QString visibleNetworkName(QStringView name);

} // namespace cw
