// The one place the link includes the Windows headers, in the order they need
// (winsock2.h before windows.h). Only *_win32.cpp files include this header.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on
