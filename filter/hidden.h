// Every name of the core lives in namespace lumasift with hidden visibility:
// a module then exports mexFunction alone, and two modules that carry the
// core, loaded side by side into one host, never bind to each other's names.
#ifndef LUMASIFT_HIDDEN_H
#define LUMASIFT_HIDDEN_H

#if (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define LUMASIFT_HIDDEN __attribute__((visibility("hidden")))
#else
#define LUMASIFT_HIDDEN
#endif

#endif
