// Marks what libzelm exports. The library is built with hidden visibility:
// only classes and functions marked ZELM_API are part of its interface.
// Every public header of zelm and tesk needs C++20.
#pragma once

#if __cplusplus < 202002L
#error "the zelm and tesk headers need C++20 (-std=c++20)"
#endif

#if defined(_WIN32)
// On Windows the foundation is linked statically into every binary, so that
// each stands alone next to the system's DLLs.
#define ZELM_API
#else
#define ZELM_API __attribute__((visibility("default")))
#endif
