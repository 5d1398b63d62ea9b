// The HID class driver's interface to a minidriver, declared from its documented definitions:
// MinGW's ddk headers have no hidport.h, and the internal IOCTL numbers in its hidclass.h are
// placeholders.
#pragma once

#include <ddk/wdm.h>

#define VTP_HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define VTP_HID_IN_CTL_CODE(id)                                                                    \
    CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define VTP_HID_OUT_CTL_CODE(id)                                                                   \
    CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_OUT_DIRECT, FILE_ANY_ACCESS)

#define VTP_IOCTL_HID_GET_DEVICE_DESCRIPTOR VTP_HID_CTL_CODE(0)
#define VTP_IOCTL_HID_GET_REPORT_DESCRIPTOR VTP_HID_CTL_CODE(1)
#define VTP_IOCTL_HID_READ_REPORT VTP_HID_CTL_CODE(2)
#define VTP_IOCTL_HID_WRITE_REPORT VTP_HID_CTL_CODE(3)
#define VTP_IOCTL_HID_GET_STRING VTP_HID_CTL_CODE(4)
#define VTP_IOCTL_HID_ACTIVATE_DEVICE VTP_HID_CTL_CODE(7)
#define VTP_IOCTL_HID_DEACTIVATE_DEVICE VTP_HID_CTL_CODE(8)
#define VTP_IOCTL_HID_GET_DEVICE_ATTRIBUTES VTP_HID_CTL_CODE(9)
#define VTP_IOCTL_HID_SEND_IDLE_NOTIFICATION VTP_HID_CTL_CODE(10)
#define VTP_IOCTL_HID_GET_FEATURE VTP_HID_OUT_CTL_CODE(100)
#define VTP_IOCTL_HID_SET_FEATURE VTP_HID_IN_CTL_CODE(100)
#define VTP_IOCTL_HID_SET_OUTPUT_REPORT VTP_HID_IN_CTL_CODE(101)
#define VTP_IOCTL_HID_GET_INPUT_REPORT VTP_HID_OUT_CTL_CODE(104)

#define VTP_HID_REVISION 1
#define VTP_HID_STRING_ID_IMANUFACTURER 14
#define VTP_HID_STRING_ID_IPRODUCT 15
#define VTP_HID_STRING_ID_ISERIALNUMBER 16

typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} VTP_HID_MINIDRIVER_REGISTRATION;

// What the class driver keeps at the start of each functional device object's extension.
typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} VTP_HID_DEVICE_EXTENSION;

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} VTP_HID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
} VTP_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} VTP_HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(VTP_HID_MINIDRIVER_REGISTRATION* registration);
