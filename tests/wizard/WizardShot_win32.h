#pragma once
// Screenshots of a window, written as PNG (needs COM initialised on the calling thread).

#include <windows.h>

#include <string>

namespace wizdrv {

bool SaveWindowPng(HWND hwnd, const std::wstring& path, std::string& error);

}  // namespace wizdrv
