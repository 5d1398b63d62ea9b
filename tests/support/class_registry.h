// Reading what a COM server registered under HKEY_CLASSES_ROOT, for registration tests.
#pragma once

#include <windows.h>

#include <string>

// "{XXXXXXXX-...}".
std::wstring ClsidText(const CLSID& clsid);

// A string value of HKCR\key (the default value when name is null), or "<missing>".
std::wstring ClassesString(const std::wstring& key, const wchar_t* name);
