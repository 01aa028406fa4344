// Times how long a window program takes from its start to its first report: until a visible
// window of the installer's class, owned by the started process, has an edit control that holds
// text. Runs the programs given in turn, alternating which goes first, closes each through
// WM_CLOSE, and prints one line per start: "<program index> <milliseconds> <CPU milliseconds>",
// the CPU time being what the started process had used by then (user and kernel).
//
//   qdi_start_timer RUNS DIRECTORY PROGRAM...
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

const char kClassName[] = "QDIMainWindow";
const DWORD kAnswerTimeoutMs = 5000;
const double kGiveUpMs = 30000;

double elapsed_ms(LARGE_INTEGER start, LARGE_INTEGER frequency) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// The process's window once it is visible and its edit control holds text; null before.
HWND reported_window(DWORD process_id) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, kClassName, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != process_id || !IsWindowVisible(window))
            continue;
        HWND edit = FindWindowExA(window, nullptr, "Edit", nullptr);
        DWORD_PTR length = 0;
        if (edit &&
            SendMessageTimeoutA(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                                &length) &&
            length > 0)
            return window;
    }
    return nullptr;
}

// The user and kernel time the process has used, in milliseconds.
double cpu_ms(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
        return -1;
    auto ticks = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10000.0; // 100-nanosecond ticks
}

// Starts the program in the directory and returns the milliseconds to its first report, or -1;
// *cpu receives the CPU time the process had used by then.
double time_start(const char* program, const char* directory, double* cpu) {
    char command_line[MAX_PATH + 2];
    snprintf(command_line, sizeof command_line, "\"%s\"", program);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(program, command_line, nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, &process))
        return -1;
    double result = -1;
    HWND window = nullptr;
    while (elapsed_ms(start, frequency) < kGiveUpMs) {
        window = reported_window(process.dwProcessId);
        if (window) {
            result = elapsed_ms(start, frequency);
            *cpu = cpu_ms(process.hProcess);
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0)
            break; // ended without a report
    }
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s RUNS DIRECTORY PROGRAM...\n", argv[0]);
        return 2;
    }
    int runs = atoi(argv[1]);
    int programs = argc - 3;
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < programs; ++k) {
            int index = run % 2 == 0 ? k : programs - 1 - k;
            double cpu = -1;
            double ms = time_start(argv[3 + index], argv[2], &cpu);
            if (ms < 0) {
                fprintf(stderr, "%s showed no report\n", argv[3 + index]);
                return 1;
            }
            printf("%d %.1f %.1f\n", index, ms, cpu);
            fflush(stdout);
        }
    }
    return 0;
}
