// The reference programs that tapdeck's start is compared with: bench_empty.exe, a GUI program
// that does nothing, and bench_empty_com.exe (BENCH_WITH_COM), which also loads user32 and ole32
// and initialises COM, as tapdeck must before it can reach the touchpad. With a file named on
// the command line each writes QueryPerformanceCounter in microseconds there: at WinMain's
// entry, and for the second also once COM is up.
#include <windows.h>

#include <cstdio>

#ifdef BENCH_WITH_COM
#include <objbase.h>
#endif

namespace {

double Micros() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    const double entry = Micros();
    double comUp = 0;
#ifdef BENCH_WITH_COM
    FindWindowA("VelTapdeckClass", "VelTapdeckApp");
    CoInitialize(nullptr);
    comUp = Micros();
#endif
    if (commandLine == nullptr || commandLine[0] == '\0') {
        return 0;
    }
    char text[96];
    const int length = std::snprintf(text, sizeof text, "%.1f %.1f\n", entry, comUp);
    HANDLE file = CreateFileA(commandLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
        CloseHandle(file);
    }
    return 0;
}
