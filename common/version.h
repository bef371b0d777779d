// version: the program's version, written once. The version resource
// (common/version.rc), the About box and the name of the release zip (CMake
// reads the four numbers, cmake/version.cmake) all take it from here.
#pragma once

#define VER_MAJOR 3
#define VER_MINOR 2
#define VER_PATCH 0
#define VER_BUILD 0

#define VER_STR_(x) #x
#define VER_STR(x) VER_STR_(x)
// "3.2.0.0": adjacent literals, joined by the compiler and by windres alike.
#define VER_TEXT VER_STR(VER_MAJOR) "." VER_STR(VER_MINOR) "." VER_STR(VER_PATCH) "." VER_STR(VER_BUILD)
