// The machine's own firmware on Windows, through kernel32: GetFirmwareType
// (Windows 8 on, looked up so that Windows 7 still starts), else what a read
// with an empty name answers; variables read with
// GetFirmwareEnvironmentVariableExA (or the call without Ex on Windows 7) once
// SeSystemEnvironmentPrivilege is enabled, which only an administrator's token
// holds. Windows cannot list variables: the boot entries are the numbers that
// BootOrder, BootCurrent and BootNext name.
#include <windows.h>

#include <string>
#include <vector>

#include "firmware/firmware_source.h"

namespace {

using GetFirmwareTypeCall = BOOL(WINAPI*)(PFIRMWARE_TYPE);
using GetVariableExCall = DWORD(WINAPI*)(LPCSTR, LPCSTR, PVOID, DWORD, PDWORD);

constexpr const char* ZeroGuid = "{00000000-0000-0000-0000-000000000000}";
constexpr const char* NotHeld =
    "SeSystemEnvironmentPrivilege not held; run Bootsieve from an administrator console";

std::vector<uint8_t> Buffer;

// A kernel32 function that older Windows may lack; nullptr there.
template <typename Call> Call Kernel32(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel ? GetProcAddress(kernel, name) : nullptr;
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(proc));
}

// The system's message for an error, without its line end and full stop.
std::string SystemError(DWORD code) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && std::string("\r\n. ").find(message.back()) != std::string::npos)
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

FirmwareMode QueryMode() {
    if (auto getType = Kernel32<GetFirmwareTypeCall>("GetFirmwareType")) {
        FIRMWARE_TYPE type = FirmwareTypeUnknown;
        if (getType(&type) && type != FirmwareTypeUnknown)
            return type == FirmwareTypeUefi ? FirmwareMode::Uefi : FirmwareMode::Bios;
    }
    GetFirmwareEnvironmentVariableA("", ZeroGuid, nullptr, 0);
    return GetLastError() == ERROR_INVALID_FUNCTION ? FirmwareMode::Bios : FirmwareMode::Uefi;
}

// "" when the privilege is enabled; else why not.
std::string EnablePrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return SystemError(GetLastError());
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    std::string why;
    if (!LookupPrivilegeValueA(nullptr, "SeSystemEnvironmentPrivilege",
                               &privileges.Privileges[0].Luid))
        why = SystemError(GetLastError());
    else if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr))
        why = SystemError(GetLastError());
    else if (GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        why = NotHeld;
    CloseHandle(token);
    return why;
}

FirmwareVariable ReadSystemVariable(const std::string& name, const char* guid) {
    std::string braced = "{";
    for (const char* c = guid; *c; ++c)
        braced += *c >= 'a' && *c <= 'f' ? static_cast<char>(*c - 'a' + 'A') : *c;
    braced += "}";
    static const auto readEx = Kernel32<GetVariableExCall>("GetFirmwareEnvironmentVariableExA");
    Buffer.resize(MaxVariableFileBytes);
    const DWORD capacity = static_cast<DWORD>(Buffer.size());
    DWORD attributes = 0;
    const DWORD size =
        readEx ? readEx(name.c_str(), braced.c_str(), Buffer.data(), capacity, &attributes)
               : GetFirmwareEnvironmentVariableA(name.c_str(), braced.c_str(), Buffer.data(),
                                                 capacity);
    FirmwareVariable variable;
    if (size == 0) {
        const DWORD error = GetLastError();
        if (error == ERROR_ENVVAR_NOT_FOUND)
            return variable;
        variable.state = VariableState::Unreadable;
        variable.why = error == ERROR_PRIVILEGE_NOT_HELD ? NotHeld : SystemError(error);
        return variable;
    }
    variable.state = VariableState::Read;
    variable.data.assign(Buffer.begin(), Buffer.begin() + size);
    return variable;
}

FirmwareFacts OpenSystem() {
    FirmwareFacts facts;
    facts.mode = QueryMode();
    // 64-bit Windows starts only from a 64-bit UEFI.
    facts.bits = 8 * sizeof(void*);
    if (facts.mode == FirmwareMode::Bios)
        return facts;
    facts.whyUnreadable = EnablePrivilege();
    if (!facts.whyUnreadable.empty())
        return facts;
    const FirmwareVariable probe = ReadSystemVariable("BootOrder", GlobalVariableGuid);
    if (probe.state == VariableState::Unreadable)
        facts.whyUnreadable = probe.why;
    else
        facts.variablesReadable = true;
    return facts;
}

bool CannotList(std::vector<unsigned>*) {
    return false;
}

const FirmwareSource System = {OpenSystem, ReadSystemVariable, CannotList};

} // namespace

const FirmwareSource* SystemFirmware() {
    return &System;
}
