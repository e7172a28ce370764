// Linked into test programs that read Word documents: they live apart from the application, so
// they name the reader built beside it.
#include "platform/codecs/DocReader.h"

namespace {
const bool readerNamed = (platform::codecs::DocReader::setReaderProgram({CW_DOC_READER_PROGRAM, {}}), true);
} // namespace
