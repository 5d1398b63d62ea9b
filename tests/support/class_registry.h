// Reading what was registered: a COM server's keys under HKEY_CLASSES_ROOT, or any string value.
#pragma once

#include <windows.h>

#include <string>

// "{XXXXXXXX-...}".
std::wstring ClsidText(const CLSID& clsid);

// A string value of root\key (the default value when name is null), or "<missing>".
std::wstring RegistryString(HKEY root, const std::wstring& key, const wchar_t* name);

// The same under HKEY_CLASSES_ROOT.
std::wstring ClassesString(const std::wstring& key, const wchar_t* name);
