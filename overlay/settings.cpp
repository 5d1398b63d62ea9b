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
    settings.sizePercent = InRange(raw.size, 10, 60, defaults.sizePercent);
    settings.opacityPercent = InRange(raw.opacity, 30, 100, defaults.opacityPercent);
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
    return DecideSettings(raw);
}

RECT PlacePanel(const RECT& workArea, const RECT& pad, const OverlaySettings& settings,
                int margin) {
    const long long areaWidth =
        std::max<long long>(0, workArea.right - workArea.left - 2LL * margin);
    const long long areaHeight =
        std::max<long long>(0, workArea.bottom - workArea.top - 2LL * margin);
    const long long padWidth = std::max<long long>(1, static_cast<long long>(pad.right) - pad.left);
    const long long padHeight =
        std::max<long long>(1, static_cast<long long>(pad.bottom) - pad.top);
    long long height =
        (static_cast<long long>(workArea.bottom) - workArea.top) * settings.sizePercent / 100;
    height = std::min(height, areaHeight);
    long long width = height * padWidth / padHeight;
    if (width > areaWidth) {
        width = areaWidth;
        height = width * padHeight / padWidth;
    }
    const bool right =
        settings.corner == Corner::BottomRight || settings.corner == Corner::TopRight;
    const bool bottom =
        settings.corner == Corner::BottomRight || settings.corner == Corner::BottomLeft;
    const long long left = right ? workArea.right - margin - width : workArea.left + margin;
    const long long top = bottom ? workArea.bottom - margin - height : workArea.top + margin;
    return {static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(left + width),
            static_cast<LONG>(top + height)};
}

} // namespace overlay
