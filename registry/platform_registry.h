#pragma once

// The registry functions, types and constants the tool uses: the system's own
// on Windows, our file-backed stand-in everywhere else.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "posix_registry.h"
#endif
