#include "hold_settings.h"

#include <algorithm>
#include <optional>

#include "layout/reg_key.h"

namespace launcher {

namespace {

std::optional<uint32_t> InRange(const StoredValue& value, uint32_t lo, uint32_t hi) {
    if (!value.present || value.type != REG_DWORD || value.size != sizeof(DWORD) ||
        value.data < lo || value.data > hi) {
        return std::nullopt;
    }
    return value.data;
}

StoredValue ReadStored(HKEY key, const wchar_t* name) {
    StoredValue value;
    BYTE bytes[8] = {};
    DWORD size = sizeof bytes;
    const LONG status = RegQueryValueExW(key, name, nullptr, &value.type, bytes, &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
        return {};
    }
    value.present = true;
    // Longer than any DWORD: its size alone says it is none.
    value.size = status == ERROR_MORE_DATA ? sizeof bytes + 1 : size;
    for (DWORD i = 0; i < std::min<DWORD>(value.size, 4); ++i) {
        value.data |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

} // namespace

HoldSettings DecideSettings(const StoredSettings& stored) {
    HoldSettings settings;
    settings.enabled = InRange(stored.enabled, 0, 1).value_or(1) == 1;
    constexpr Corner corners[] = {Corner::BottomRight, Corner::BottomLeft, Corner::TopRight,
                                  Corner::TopLeft};
    settings.corner = corners[InRange(stored.corner, 0, 3).value_or(CornerNumber(settings.corner))];
    settings.cornerPercent = InRange(stored.cornerPercent, MinCornerPercent, MaxCornerPercent)
                                 .value_or(settings.cornerPercent);
    settings.holdMs = InRange(stored.holdMs, MinHoldMs, MaxHoldMs).value_or(settings.holdMs);
    return settings;
}

HoldSettings ReadSettings() {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, LauncherKeyPath, 0, KEY_QUERY_VALUE, &opened) !=
        ERROR_SUCCESS) {
        return {};
    }
    const RegKeyHandle key(opened);
    StoredSettings stored;
    stored.enabled = ReadStored(key.Get(), ValueEnabled);
    stored.corner = ReadStored(key.Get(), ValueCorner);
    stored.cornerPercent = ReadStored(key.Get(), ValueCornerPercent);
    stored.holdMs = ReadStored(key.Get(), ValueHoldMs);
    return DecideSettings(stored);
}

bool WriteEnabled(bool on) {
    HKEY created = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, LauncherKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &created, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const RegKeyHandle key(created);
    const DWORD value = on ? 1 : 0;
    return RegSetValueExW(key.Get(), ValueEnabled, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

} // namespace launcher
