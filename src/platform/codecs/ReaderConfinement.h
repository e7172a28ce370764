// Confining a reader process before it parses anything: what untrusted input may make it do.
#pragma once

namespace platform::codecs {

// Closes every descriptor but the standard three (pointed at /dev/null) and those from `firstKept`
// to `lastKept` (above the standard three), so that a reader holds nothing of its parent's.
void dropInheritedDescriptors(int firstKept, int lastKept);

// Loads the character-set converters a Word reader may ask for, so that they need no file
// once the reader is confined.
void preloadCharacterSets();

// No new privileges; Landlock denying all file-system access where the kernel has it; and a
// seccomp filter that lets the process read and write the descriptors it holds, map and free
// memory without making it executable, wait on futexes and exit. Looking up a path (stat in any
// form) fails with EACCES; any other system call (opening a file, making a socket, starting a
// program) kills the process at once (SIGSYS). False when the system refused the filter; the
// caller must then not go on. Only in a single-threaded process: it cannot be undone.
bool confineToOpenFiles();

} // namespace platform::codecs
