#include "CUsbDeviceLibusb.h"

#include "Diagnostic.h"
#include "UsbPlatform.h"
#include "UsbPure.h"

#include <libusb.h>

#include <algorithm>

namespace {

constexpr unsigned int kWriteTimeoutMs = 5000;

constexpr const char *kNoIds = "USB: no device ID configured (vvvv:pppp)\n";
constexpr const char *kInitFailed = "USB: libusb could not start: %s\n";
constexpr const char *kListFailed = "USB: cannot list devices: %s\n";
constexpr const char *kNotFound = "USB: no device found with ID %s\n";
constexpr const char *kOpenFailed = "USB: cannot open %04x:%04x: %s\n";
constexpr const char *kNoEndpoints = "USB: %04x:%04x has no interface with bulk IN and OUT\n";
constexpr const char *kClaimFailed = "USB: cannot claim interface %d of %04x:%04x: %s\n";
constexpr const char *kOpened = "USB: opened %04x:%04x, interface %d, OUT 0x%02x, IN 0x%02x\n";

struct Endpoints
{
    int interfaceNumber = -1;
    unsigned char out = 0;
    unsigned char in = 0;
};

// The first interface (first alternate setting) that has both a bulk OUT and a bulk IN
// endpoint; the first of each kind counts.
Endpoints FindBulkEndpoints(const libusb_config_descriptor &config)
{
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface &interface = config.interface[i];
        if (interface.num_altsetting < 1) {
            continue;
        }
        const libusb_interface_descriptor &setting = interface.altsetting[0];
        Endpoints found;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &endpoint = setting.endpoint[e];
            if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
                continue;
            }
            const bool in = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) != 0;
            if (in && found.in == 0) {
                found.in = endpoint.bEndpointAddress;
            } else if (!in && found.out == 0) {
                found.out = endpoint.bEndpointAddress;
            }
        }
        if (found.in != 0 && found.out != 0) {
            found.interfaceNumber = setting.bInterfaceNumber;
            return found;
        }
    }
    return {};
}

} // namespace

CUsbDeviceLibusb::CUsbDeviceLibusb(std::string usbIds) : m_strIds(std::move(usbIds)) {}

CUsbDeviceLibusb::~CUsbDeviceLibusb()
{
    Close();
}

bool CUsbDeviceLibusb::Open()
{
    Close();
    const std::vector<klr::UsbId> ids = klr::ParseUsbIds(m_strIds);
    if (ids.empty()) {
        klr::Diagnostic(kNoIds);
        return false;
    }
    if (const int rc = libusb_init(&m_pContext); rc != 0) {
        klr::DiagnosticF(kInitFailed, libusb_error_name(rc));
        m_pContext = nullptr;
        return false;
    }
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(m_pContext, &list);
    if (count < 0) {
        klr::DiagnosticF(kListFailed, libusb_error_name(static_cast<int>(count)));
        Close();
        return false;
    }
    // Devices in the order of the configured list, so the first listed ID wins.
    for (const klr::UsbId &id : ids) {
        for (ssize_t i = 0; i < count && m_hDevice == nullptr; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) != 0) {
                continue;
            }
            if (descriptor.idVendor == id.vendor && descriptor.idProduct == id.product) {
                OpenDevice(list[i]);
            }
        }
        if (m_hDevice != nullptr) {
            break;
        }
    }
    libusb_free_device_list(list, 1);
    if (m_hDevice == nullptr) {
        klr::DiagnosticF(kNotFound, m_strIds.c_str());
        Close();
        return false;
    }
    return true;
}

bool CUsbDeviceLibusb::OpenDevice(libusb_device *device)
{
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    const unsigned vendor = descriptor.idVendor;
    const unsigned product = descriptor.idProduct;

    libusb_device_handle *handle = nullptr;
    if (const int rc = libusb_open(device, &handle); rc != 0) {
        klr::DiagnosticF(kOpenFailed, vendor, product, libusb_error_name(rc));
        return false;
    }
    libusb_config_descriptor *config = nullptr;
    Endpoints endpoints;
    if (libusb_get_active_config_descriptor(device, &config) == 0 && config != nullptr) {
        endpoints = FindBulkEndpoints(*config);
        libusb_free_config_descriptor(config);
    }
    if (endpoints.interfaceNumber < 0) {
        klr::DiagnosticF(kNoEndpoints, vendor, product);
        libusb_close(handle);
        return false;
    }
    // Where a kernel driver holds the interface, libusb gives it back on release.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (const int rc = libusb_claim_interface(handle, endpoints.interfaceNumber); rc != 0) {
        klr::DiagnosticF(kClaimFailed, endpoints.interfaceNumber, vendor, product,
                         libusb_error_name(rc));
        libusb_close(handle);
        return false;
    }
    m_hDevice = handle;
    m_nInterface = endpoints.interfaceNumber;
    m_nWritePipe = endpoints.out;
    m_nReadPipe = endpoints.in;
    klr::DiagnosticF(kOpened, vendor, product, m_nInterface, m_nWritePipe, m_nReadPipe);
    return true;
}

void CUsbDeviceLibusb::Close()
{
    if (m_hDevice != nullptr) {
        libusb_release_interface(m_hDevice, m_nInterface);
        libusb_close(m_hDevice);
        m_hDevice = nullptr;
    }
    m_nInterface = -1;
    m_nWritePipe = 0;
    m_nReadPipe = 0;
    if (m_pContext != nullptr) {
        libusb_exit(m_pContext);
        m_pContext = nullptr;
    }
}

bool CUsbDeviceLibusb::IsOpen() const
{
    return m_hDevice != nullptr;
}

bool CUsbDeviceLibusb::WriteBlock(const std::uint8_t *block)
{
    if (m_hDevice == nullptr || block == nullptr) {
        return false;
    }
    int sent = 0;
    // libusb takes a mutable buffer for both directions; an OUT transfer only reads it.
    const int rc = libusb_bulk_transfer(m_hDevice, m_nWritePipe, const_cast<std::uint8_t *>(block),
                                        static_cast<int>(klr::kUsbBlock), &sent, kWriteTimeoutMs);
    return rc == 0 && sent == static_cast<int>(klr::kUsbBlock);
}

bool CUsbDeviceLibusb::ReadBlock(std::uint8_t *block, int timeoutMs)
{
    if (m_hDevice == nullptr || block == nullptr) {
        return false;
    }
    int received = 0;
    // A time-out of 0 would mean "wait for ever" to libusb.
    const auto timeout = static_cast<unsigned int>(std::max(timeoutMs, 1));
    const int rc = libusb_bulk_transfer(m_hDevice, m_nReadPipe, block,
                                        static_cast<int>(klr::kUsbBlock), &received, timeout);
    return rc == 0 && received > 0;
}

std::unique_ptr<IUsbBlockDevice> CreatePlatformUsbDevice(const std::string &usbIds)
{
    return std::make_unique<CUsbDeviceLibusb>(usbIds);
}

bool PlatformUsbNeedsIds()
{
    return true;
}
