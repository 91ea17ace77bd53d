// The one place the link includes the Windows headers, in the order they need
// (winsock2.h before windows.h). Only *_win32.cpp files include this header.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>
#include <winsock2.h>
