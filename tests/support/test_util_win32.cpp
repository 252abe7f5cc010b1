/*
 * test_util_win32.cpp - the Windows side of the test helpers: the platform
 * facts of Windows, scratch directories, the environment, and child
 * processes with captured output.  The tests run under Wine, where the build
 * tree is reached through the drive that maps the Linux root.
 */
#include "test_util.h"

#include <direct.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

const char TU_SEP = '\\';
const char *const TU_EXE = ".exe";
const char *const TU_EOL = "\r\n";
const bool TU_TEXT_ENDS_AT_CTRL_Z = true;
const bool TU_NAMES_IGNORE_CASE = true;
const size_t TU_ARG_MAX = 32767;
const size_t TU_ROOT_LEN = 3;
const std::vector<tu_path_example> TU_PATH_EXAMPLES = {
    {"C:\\other\\torc", true},   {"c:torc", true},        {"\\\\srv\\share\\torc", true},
    {"/opt/other/torc", false},  {"\\other\\torc", false}, {"other\\torc", false},
};
const int TU_CRASH_STATUS = (int)0xC0000005;
const char *const TU_DIR_AS_FILE_ERROR = "Permission denied";

/* GoogleTest's own regular expressions on Windows: no brackets. */
bool tu_appends_whole_lines(void)
{
    /* Wine's ntdll exports its version; Windows's has no such function. */
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return !ntdll || !GetProcAddress(ntdll, "wine_get_version");
}

std::string tu_assertion_report(const std::string &file, const std::string &expression)
{
    return "Assertion failed: " + expression + ", file .*" + file + ", line \\d+";
}

/* A path of the build tree is a Linux path; Wine's own kernel32 export
 * gives the drive-letter form a Windows program sees. */
std::string tu_build_path(const char *path)
{
    typedef WCHAR *(CDECL * dos_name_fn)(const char *);
    auto dos_name = (dos_name_fn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
    WCHAR *wide = dos_name ? dos_name(path) : NULL;
    if (!wide) return path;
    char buf[MAX_PATH * 4];
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, NULL, NULL);
    HeapFree(GetProcessHeap(), 0, wide);
    return n > 0 ? std::string(buf) : std::string(path);
}

void tu_make_unopenable(const std::string &path)
{
    if (_mkdir(path.c_str()) != 0) ADD_FAILURE() << "_mkdir " << path << ": " << strerror(errno);
}

void tu_setenv(const char *name, const char *value)
{
    /* "NAME=" removes the variable. */
    std::string setting = std::string(name) + "=" + (value ? value : "");
    if (_putenv(setting.c_str()) != 0) ADD_FAILURE() << "_putenv " << setting;
}

/* The command line from which the runtime's parser gives back `argv`
 * exactly: an argument that is empty or holds white space or a quote goes in
 * quotes, each quote in it is escaped, and the backslashes before a quote or
 * before the closing quote are doubled. */
static std::string command_line(const std::vector<std::string> &argv)
{
    std::string line;
    for (const std::string &arg : argv) {
        if (!line.empty()) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                backslashes++;
                continue;
            }
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, '\\');
        line += '"';
    }
    return line;
}

/* Reads `h` from its start to its end. */
static std::string read_all(HANDLE h)
{
    std::string data;
    char buf[65536];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got > 0) data.append(buf, got);
    return data;
}

/* The child's output as text: CR LF read as "\n". */
static std::string as_text(const std::string &raw)
{
    std::string text;
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i];
    }
    return text;
}

/* Starts argv[0] with the standard handles given (inherited), `env` and
 * `cwd`: its process handle, or NULL (a test failure). */
static HANDLE start(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &cwd,
                    HANDLE in, HANDLE out, HANDLE err)
{
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi;
    /* The block is sorted by name, ignoring case, as Windows keeps it. */
    std::vector<std::string> vars = tu_environment(env);
    std::sort(vars.begin(), vars.end(), [](const std::string &a, const std::string &b) { return _stricmp(a.c_str(), b.c_str()) < 0; });
    std::string line = command_line(argv), block;
    for (const std::string &e : vars) block += e + '\0';
    block += '\0';
    if (!CreateProcessA(argv[0].c_str(), &line[0], NULL, NULL, TRUE, 0, &block[0], cwd.empty() ? NULL : cwd.c_str(),
                        &si, &pi)) {
        ADD_FAILURE() << "CreateProcessA " << argv[0] << ": error " << GetLastError();
        return NULL;
    }
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

/* The null device as an inherited handle. */
static HANDLE null_device(void)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, NULL);
}

int tu_wait(tu_child child)
{
    HANDLE process = (HANDLE)child;
    DWORD code = (DWORD)-1;
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return (int)code;
}

tu_child tu_start(const std::vector<std::string> &argv, const std::vector<std::string> &env)
{
    HANDLE null = null_device();
    HANDLE process = start(argv, env, "", null, null, null);
    CloseHandle(null);
    return process ? (tu_child)process : -1;
}

/* 1. Standard input is the null device (none, with `stdin_closed`),
 *    standard output a pipe, standard error a temporary file deleted when
 *    closed (so that reading the pipe to its end can block no one); they
 *    are inherited.
 * 2. The pipe is read until every holder of its writing end has closed it.
 * 3. The exit code, then standard error from the file's start. */
tu_result tu_run(const tu_setup &s)
{
    tu_result r{-1, "", ""};
    if (s.stdout_unread || s.ignored_signal || s.unprivileged || s.address_space || s.open_files) {
        ADD_FAILURE() << "tu_run: a POSIX set-up on Windows";
        return r;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE null_in = s.stdin_closed ? NULL : null_device();
    char err_name[MAX_PATH + 1], temp_dir[MAX_PATH + 1];
    GetTempPathA(sizeof temp_dir, temp_dir);
    GetTempFileNameA(temp_dir, "tur", 0, err_name);
    HANDLE err = CreateFileA(err_name, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
    HANDLE out_read, out_write;
    if (null_in == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE ||
        !CreatePipe(&out_read, &out_write, &inherit, 0)) {
        ADD_FAILURE() << "tu_run: cannot make the standard streams, error " << GetLastError();
        return r;
    }
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);

    HANDLE process = start(s.argv, s.env, s.cwd, null_in, out_write, err);
    CloseHandle(out_write);
    if (null_in) CloseHandle(null_in);
    if (process) {
        r.out = as_text(read_all(out_read));
        r.status = tu_wait((tu_child)process);
        SetFilePointer(err, 0, NULL, FILE_BEGIN);
        r.err = as_text(read_all(err));
    }
    CloseHandle(out_read);
    CloseHandle(err);
    return r;
}
