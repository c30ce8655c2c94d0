// A stand-in for the game hall, for tests. Every start appends its command
// line to "gamehollo.log" in the current folder. Modes (first argument):
//   run                 record and end, as the real hall is started after an update
//   window              also run a top-level window of class "QelvoGameHollo" that
//                       appends each message 0x7E8 it receives ("msg 2024 <wParam> <lParam hex>")
//                       to "messages.log" and ends on WM_CLOSE or after 60 s
//   sleep               stay alive for up to 60 s (a process to be found and ended)
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const UINT kGameUpdated = 0x7E8;
const UINT kFlush = WM_APP + 1;  // a marker: every message before it has been recorded

void AppendLine(const char* pszFile, const char* pszLine) {
    FILE* f = std::fopen(pszFile, "ab");
    if (!f) return;
    std::fprintf(f, "%s\r\n", pszLine);
    std::fclose(f);
}

LRESULT CALLBACK HallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    char line[128];
    if (msg == kGameUpdated) {
        std::snprintf(line, sizeof(line), "msg %u %u 0x%08lX", msg, static_cast<unsigned>(wParam),
                      static_cast<unsigned long>(lParam));
        AppendLine("messages.log", line);
        return 0;
    }
    if (msg == kFlush) {
        AppendLine("messages.log", "flush");
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void RunWindow(HINSTANCE hInstance) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HallProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "QelvoGameHollo";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("QelvoGameHollo", "stand-in hall", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                              nullptr, hInstance, nullptr);
    SetTimer(hwnd, 1, 60000, nullptr);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER) DestroyWindow(hwnd);
        DispatchMessageA(&m);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int) {
    AppendLine("gamehollo.log", GetCommandLineA());
    if (std::strncmp(lpCmdLine, "window", 6) == 0) {
        RunWindow(hInstance);
    } else if (std::strncmp(lpCmdLine, "sleep", 5) == 0) {
        Sleep(60000);
    }
    return 0;
}
