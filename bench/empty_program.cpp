// The smallest Win32 GUI program: the reference that tapdeck's start is compared with. With a
// file named on its command line it writes QueryPerformanceCounter at WinMain's entry there,
// in microseconds, so the benchmark can time process creation up to this point.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    if (commandLine == nullptr || commandLine[0] == '\0') {
        return 0;
    }
    const double micros =
        static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.1f\n", micros);
    HANDLE file = CreateFileA(commandLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
        CloseHandle(file);
    }
    return 0;
}
