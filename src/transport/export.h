// KORVANE_API marks what the shared library exports: the public classes and
// functions. Everything else is built hidden, so the library's internals
// are not part of its ABI. The Windows build is a static library and needs
// no mark.
#ifndef KORVANE_EXPORT_H
#define KORVANE_EXPORT_H

#if defined(_WIN32) || !defined(__GNUC__)
#define KORVANE_API
#else
#define KORVANE_API __attribute__((visibility("default")))
#endif

#endif
