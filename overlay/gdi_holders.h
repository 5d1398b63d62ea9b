// Move-only owners of GDI objects and memory DCs, and a guard that puts back what a DC had
// selected. Each releases its handle once, on any path.
#pragma once

#include <windows.h>

#include <utility>

namespace overlay {

// Any object DeleteObject frees: HBITMAP, HFONT, HBRUSH, HPEN.
template <class Handle> class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(Handle h) : handle(h) {}
    ~GdiObject() { Reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    GdiObject(GdiObject&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept {
        if (this != &other) {
            Reset();
            handle = std::exchange(other.handle, nullptr);
        }
        return *this;
    }

    Handle Get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }
    void Reset() {
        if (handle != nullptr) {
            DeleteObject(std::exchange(handle, nullptr));
        }
    }

private:
    Handle handle = nullptr;
};

// A memory DC from CreateCompatibleDC.
class MemoryDc {
public:
    MemoryDc() = default;
    explicit MemoryDc(HDC dc) : handle(dc) {}
    ~MemoryDc() { Reset(); }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    MemoryDc(MemoryDc&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
    MemoryDc& operator=(MemoryDc&& other) noexcept {
        if (this != &other) {
            Reset();
            handle = std::exchange(other.handle, nullptr);
        }
        return *this;
    }

    HDC Get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }
    void Reset() {
        if (handle != nullptr) {
            DeleteDC(std::exchange(handle, nullptr));
        }
    }

private:
    HDC handle = nullptr;
};

// Selects an object into a DC for its own lifetime, then puts the previous one back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : target(dc), previous(SelectObject(dc, object)) {}
    ~Selection() {
        if (previous != nullptr && previous != HGDI_ERROR) {
            SelectObject(target, previous);
        }
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    Selection(Selection&&) = delete;
    Selection& operator=(Selection&&) = delete;

private:
    HDC target;
    HGDIOBJ previous;
};

} // namespace overlay
