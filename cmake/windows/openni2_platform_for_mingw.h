/*
 * The camera library's platform header accepts Win32 only from Microsoft's
 * compiler: it stops when _MSC_VER is below 1300, and below 1600 it typedefs
 * what <stdint.h> has. mingw-w64's own headers break when _MSC_VER is set, so
 * it is set only around that one header, after the system headers it pulls in
 * have been read; their include guards keep them from being read again.
 * The order of these lines matters, so the formatter leaves them as they are.
 */
// clang-format off
#include <windows.h>
#include <stdlib.h>
#include <stdio.h>
#include <malloc.h>
#include <io.h>
#include <time.h>
#include <assert.h>
#include <float.h>
#include <crtdbg.h>
#include <stdint.h>
#define _MSC_VER 1600
#include <OniPlatform.h>
#undef _MSC_VER
// clang-format on
