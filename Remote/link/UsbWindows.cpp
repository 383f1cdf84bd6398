#include "UsbWindows.h"

#include "CUsbDeviceVista.h"
#include "CUsbDeviceXP.h"
#include "UsbPlatform.h"

#include <setupapi.h>

#include <cstdlib>

namespace klr::win {

EnumEnd ForEachDevicePath(const GUID &interfaceClass,
                          const std::function<bool(const char *devicePath)> &visit, DWORD &error)
{
    error = 0;
    // Present devices only, device interfaces (0x12).
    HDEVINFO set = SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return EnumEnd::ClassDevsFailed;
    }
    EnumEnd end = EnumEnd::RanOut;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &data)) {
            error = GetLastError();
            end = EnumEnd::RanOut;
            break;
        }
        DWORD required = 0;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            error = GetLastError();
            end = EnumEnd::DetailFailed;
            break;
        }
        auto *detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(std::malloc(required));
        if (detail == nullptr) {
            end = EnumEnd::NoMemory;
            break;
        }
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
            error = GetLastError();
            std::free(detail);
            end = EnumEnd::DetailFailed;
            break;
        }
        const bool taken = visit(detail->DevicePath);
        std::free(detail);
        if (taken) {
            end = EnumEnd::Stopped;
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return end;
}

std::optional<OsVersion> QueryOsVersion()
{
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&extended))) {
        return OsVersion{extended.dwPlatformId, extended.dwMajorVersion};
    }
    OSVERSIONINFOA basic{};
    basic.dwOSVersionInfoSize = sizeof basic;
    if (GetVersionExA(&basic)) {
        return OsVersion{basic.dwPlatformId, basic.dwMajorVersion};
    }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return std::nullopt;
}

namespace {

struct Overlapped
{
    Overlapped() { io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped()
    {
        if (io.hEvent != nullptr) {
            CloseHandle(io.hEvent);
        }
    }
    Overlapped(const Overlapped &) = delete;
    Overlapped &operator=(const Overlapped &) = delete;
    OVERLAPPED io{};
};

} // namespace

bool WriteAll(HANDLE handle, const void *data, DWORD length, DWORD &written)
{
    written = 0;
    Overlapped overlapped;
    if (overlapped.io.hEvent == nullptr) {
        return false;
    }
    if (!WriteFile(handle, data, length, nullptr, &overlapped.io) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    return GetOverlappedResult(handle, &overlapped.io, &written, TRUE) != FALSE;
}

bool ReadWithTimeout(HANDLE handle, void *buffer, DWORD length, DWORD &read, int timeoutMs)
{
    read = 0;
    Overlapped overlapped;
    if (overlapped.io.hEvent == nullptr) {
        return false;
    }
    if (!ReadFile(handle, buffer, length, nullptr, &overlapped.io) &&
        GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    const DWORD wait = WaitForSingleObject(overlapped.io.hEvent,
                                           static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
    if (wait != WAIT_OBJECT_0) {
        // The buffer belongs to the driver until the cancelled read has completed.
        CancelIoEx(handle, &overlapped.io);
        const BOOL done = GetOverlappedResult(handle, &overlapped.io, &read, TRUE);
        return done != FALSE && read > 0;
    }
    return GetOverlappedResult(handle, &overlapped.io, &read, FALSE) != FALSE && read > 0;
}

} // namespace klr::win

std::unique_ptr<IUsbBlockDevice> CreatePlatformUsbDevice(const std::string &)
{
    static const UsbDeviceFactory factory = klr::MakeVariantFactory(
        klr::win::QueryOsVersion, [] { return std::make_unique<CUsbDeviceXP>(); },
        [] { return std::make_unique<CUsbDeviceVista>(); });
    return factory();
}

bool PlatformUsbNeedsIds()
{
    return false;
}
