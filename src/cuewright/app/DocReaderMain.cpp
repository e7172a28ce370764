// cuewright-docreader: the confined Word reader the application starts for each .doc it opens.
#include "platform/codecs/DocReader.h"

int main(int argc, char** argv) {
    return platform::codecs::DocReader::readerMain(argc, argv);
}
