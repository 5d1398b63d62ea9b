#include "settings.h"

#include <algorithm>

#include "layout/reg_key.h"

namespace overlay {

namespace {

std::optional<uint32_t> DwordOf(const RawValue& value) {
    if (!value.present || value.type != REG_DWORD || value.size != sizeof(DWORD)) {
        return std::nullopt;
    }
    return value.data;
}

int InRange(const RawValue& value, uint32_t lo, uint32_t hi, int fallback) {
    const auto v = DwordOf(value);
    return v && *v >= lo && *v <= hi ? static_cast<int>(*v) : fallback;
}

RawValue ReadRaw(HKEY key, const wchar_t* name) {
    RawValue value;
    BYTE bytes[16] = {};
    DWORD size = sizeof bytes;
    DWORD type = REG_NONE;
    const LONG status = RegQueryValueExW(key, name, nullptr, &type, bytes, &size);
    if (status == ERROR_MORE_DATA) {
        value.present = true;
        value.type = type;
        value.size = sizeof bytes + 1; // too long for any of the four
        return value;
    }
    if (status != ERROR_SUCCESS) {
        return value;
    }
    value.present = true;
    value.type = type;
    value.size = size;
    for (DWORD i = 0; i < std::min<DWORD>(size, 4); ++i) {
        value.data |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

} // namespace

OverlaySettings DecideSettings(const RawSettings& raw) {
    const OverlaySettings defaults;
    OverlaySettings settings;
    settings.enabled = InRange(raw.overlay, 0, 1, 1) == 1;
    settings.corner = static_cast<Corner>(InRange(raw.corner, 0, 3, 0));
    settings.size = InRange(raw.size, 10, 60, defaults.size);
    settings.opacityPercent = InRange(raw.opacity, 30, 100, defaults.opacityPercent);
    settings.idleSeconds = InRange(raw.idle, 0, 3600, defaults.idleSeconds);
    settings.monitor = static_cast<MonitorChoice>(InRange(raw.monitor, 0, 1, 0));
    return settings;
}

OverlaySettings ReadOverlaySettings() {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_QUERY_VALUE, &opened) !=
        ERROR_SUCCESS) {
        return {};
    }
    const RegKeyHandle key(opened);
    RawSettings raw;
    raw.overlay = ReadRaw(key.Get(), L"Overlay");
    raw.corner = ReadRaw(key.Get(), L"OverlayCorner");
    raw.size = ReadRaw(key.Get(), L"OverlaySize");
    raw.opacity = ReadRaw(key.Get(), L"OverlayOpacity");
    raw.idle = ReadRaw(key.Get(), L"OverlayIdle");
    raw.monitor = ReadRaw(key.Get(), L"OverlayMonitor");
    return DecideSettings(raw);
}

} // namespace overlay
