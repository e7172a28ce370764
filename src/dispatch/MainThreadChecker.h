// The one check that a main-thread-only operation runs on the main thread (debug builds).
#pragma once

// CW_DCHECK_MAIN_THREAD() at the top of an operation that belongs to the main thread: off it, a
// debug build stops with "<function> called off the main thread". Release builds (NDEBUG) compile
// it to nothing, so it may sit in any public entry point; it evaluates nothing, not even in
// constant expressions.
#ifdef NDEBUG
#define CW_DCHECK_MAIN_THREAD() static_cast<void>(0)
#else
#define CW_DCHECK_MAIN_THREAD() ::dispatch::checkMainThread(__PRETTY_FUNCTION__)
#endif

namespace dispatch {

// Stops the program with "<function> called off the main thread" unless it runs on the main
// thread. Use the macro, which drops the call in release builds.
void checkMainThread(const char* function);

} // namespace dispatch
