// Owns one kernel object handle and closes it. Move-only.
#pragma once

#include <windows.h>

#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : handle(h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle = std::exchange(other.handle, nullptr);
        }
        return *this;
    }

    HANDLE Get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }
    void Reset() {
        if (handle) {
            CloseHandle(std::exchange(handle, nullptr));
        }
    }

private:
    HANDLE handle = nullptr;
};
