// Included ahead of every source of the update logic and the window program on Windows
// (-include), before any library header.
//
// libstdc++ switches mingw's C99 printf family on for all C++ code; the update logic formats
// only integers and texts, for which the C runtime's own printf serves, without the 20 KB of
// floating-point formatting the C99 one brings into the small program. And with extern
// templates off, the few std templates that get used are compiled here, without exceptions,
// instead of being taken from the runtime library together with its exception support.
#pragma once

#include <bits/c++config.h>

#undef __USE_MINGW_ANSI_STDIO
#define __USE_MINGW_ANSI_STDIO 0
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
