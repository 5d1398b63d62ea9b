// A virtual HID device for tests under Wine: a HID minidriver whose report descriptor, ids and
// strings are read from its device's registry key at start (written there by the control
// library before the driver is installed), and whose input reports are fed by a test through
// one vendor-defined feature report that the control library adds to the descriptor. Fed
// reports are queued and handed back, in order, to the class driver's reads; none is dropped.
// Other feature reports are answered from a table given at install, or with what was last set;
// a read of the feed report answers the device's counters, for a test that saw no report.
//
// The class driver may call in from several threads at once; everything a device holds that
// changes after start is guarded by its spin lock.
#include "hid_minidriver.h"

#define VTP_TAG 0x70747656u // "Vvtp" in a pool dump
// A feed payload begins with these two bytes, then the report's length and the report.
#define VTP_FEED_MAGIC0 'V'
#define VTP_FEED_MAGIC1 'T'
// A feed payload of 'V' 'P' asks for Wine's device host to learn the devices there are now. The
// host keeps a list of its own of the raw-input devices, for the usages of each report it sends,
// and rebuilds it only when a report comes from a device not in it: tens of milliseconds with
// many devices, for which that first report waits, and the reports behind it bunch. A player
// asks for it before its clock starts. The host rebuilds the list when it is asked about a
// device it does not know, and no device has the handle 0.
#define VTP_PRIME_MAGIC1 'P'
__declspec(dllimport) unsigned int __stdcall GetRawInputDeviceInfoW(HANDLE device,
                                                                    unsigned int command,
                                                                    void* data, unsigned int* size);
#define VTP_RIDI_DEVICEINFO 0x2000000bu
// Fed reports not yet read: a test that outruns the reader is told to retry, never dropped.
#define VTP_MAX_QUEUED 4096
#define VTP_MAX_FEATURES 32
#define VTP_MAX_FEATURE_BYTES 512
#define VTP_MAX_STRING 126

typedef struct {
    LIST_ENTRY entry;
    ULONG length;
    UCHAR bytes[1];
} QueuedReport;

typedef struct {
    UCHAR id;
    ULONG length;
    UCHAR bytes[VTP_MAX_FEATURE_BYTES];
} FeatureReport;

typedef struct {
    KSPIN_LOCK lock;
    BOOLEAN removed;
    LIST_ENTRY queued; // QueuedReport
    ULONG queuedCount;
    LIST_ENTRY pendingReads; // IRPs, by Tail.Overlay.ListEntry
    ULONG pendingCount;
    // Since start: reports fed and taken into the device, reads completed with a report, feeds
    // refused because the queue was full.
    ULONG fedCount;
    ULONG deliveredCount;
    ULONG refusedCount;
    // Read at start; not changed after, except the feature table (under the lock).
    PUCHAR descriptor;
    ULONG descriptorLength;
    USHORT vendorId;
    USHORT productId;
    USHORT version;
    UCHAR feedReportId;
    WCHAR manufacturer[VTP_MAX_STRING + 1];
    WCHAR product[VTP_MAX_STRING + 1];
    WCHAR serial[VTP_MAX_STRING + 1];
    ULONG featureCount;
    FeatureReport features[VTP_MAX_FEATURES];
} Device;

static Device* DeviceOf(PDEVICE_OBJECT fdo) {
    return (Device*)((VTP_HID_DEVICE_EXTENSION*)fdo->DeviceExtension)->MiniDeviceExtension;
}

static PDEVICE_OBJECT NextOf(PDEVICE_OBJECT fdo) {
    return ((VTP_HID_DEVICE_EXTENSION*)fdo->DeviceExtension)->NextDeviceObject;
}

static PDEVICE_OBJECT PdoOf(PDEVICE_OBJECT fdo) {
    return ((VTP_HID_DEVICE_EXTENSION*)fdo->DeviceExtension)->PhysicalDeviceObject;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// ---- the configuration, from the device's registry key -------------------------------------

// The value `name` of `key`, allocated from the pool; the caller frees it. Null when absent.
static KEY_VALUE_PARTIAL_INFORMATION* QueryValue(HANDLE key, const WCHAR* name) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG size = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, NULL, 0, &size);
    if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) {
        return NULL;
    }
    KEY_VALUE_PARTIAL_INFORMATION* info = ExAllocatePoolWithTag(NonPagedPool, size, VTP_TAG);
    if (info == NULL) {
        return NULL;
    }
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, size, &size);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(info, VTP_TAG);
        return NULL;
    }
    return info;
}

static ULONG QueryDword(HANDLE key, const WCHAR* name, ULONG fallback) {
    KEY_VALUE_PARTIAL_INFORMATION* info = QueryValue(key, name);
    ULONG value = fallback;
    if (info != NULL && info->Type == REG_DWORD && info->DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&value, info->Data, sizeof value);
    }
    if (info != NULL) {
        ExFreePoolWithTag(info, VTP_TAG);
    }
    return value;
}

static void QueryString(HANDLE key, const WCHAR* name, WCHAR* out) {
    KEY_VALUE_PARTIAL_INFORMATION* info = QueryValue(key, name);
    out[0] = 0;
    if (info != NULL && info->Type == REG_SZ) {
        ULONG chars = info->DataLength / sizeof(WCHAR);
        if (chars > VTP_MAX_STRING) {
            chars = VTP_MAX_STRING;
        }
        RtlCopyMemory(out, info->Data, chars * sizeof(WCHAR));
        out[chars] = 0;
    }
    if (info != NULL) {
        ExFreePoolWithTag(info, VTP_TAG);
    }
}

// Says in the device's key how its start went, for the control library to show.
static void SetState(HANDLE key, const WCHAR* state) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, L"DriverState");
    ULONG bytes = 0;
    while (state[bytes / sizeof(WCHAR)] != 0) {
        bytes += sizeof(WCHAR);
    }
    ZwSetValueKey(key, &valueName, 0, REG_SZ, (PVOID)state, bytes + sizeof(WCHAR));
}

// FeatureReports: entries of [report id][length, 2 bytes][that many bytes, the id first].
static void ReadFeatures(Device* device, const UCHAR* data, ULONG length) {
    ULONG at = 0;
    while (at + 3 <= length && device->featureCount < VTP_MAX_FEATURES) {
        const UCHAR id = data[at];
        const ULONG size = data[at + 1] | (ULONG)data[at + 2] << 8;
        at += 3;
        if (at + size > length || size > VTP_MAX_FEATURE_BYTES) {
            break;
        }
        FeatureReport* feature = &device->features[device->featureCount++];
        feature->id = id;
        feature->length = size;
        RtlCopyMemory(feature->bytes, data + at, size);
        at += size;
    }
}

static NTSTATUS ReadConfiguration(PDEVICE_OBJECT pdo, Device* device) {
    HANDLE key = NULL;
    NTSTATUS status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    KEY_VALUE_PARTIAL_INFORMATION* info = QueryValue(key, L"ReportDescriptor");
    if (info == NULL || info->Type != REG_BINARY || info->DataLength == 0) {
        SetState(key, L"not started: the device's key has no ReportDescriptor (REG_BINARY)");
        if (info != NULL) {
            ExFreePoolWithTag(info, VTP_TAG);
        }
        ZwClose(key);
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    device->descriptor = ExAllocatePoolWithTag(NonPagedPool, info->DataLength, VTP_TAG);
    if (device->descriptor == NULL) {
        ExFreePoolWithTag(info, VTP_TAG);
        SetState(key, L"not started: out of memory");
        ZwClose(key);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyMemory(device->descriptor, info->Data, info->DataLength);
    device->descriptorLength = info->DataLength;
    ExFreePoolWithTag(info, VTP_TAG);

    device->vendorId = (USHORT)QueryDword(key, L"VendorID", 0);
    device->productId = (USHORT)QueryDword(key, L"ProductID", 0);
    device->version = (USHORT)QueryDword(key, L"VersionNumber", 0x100);
    device->feedReportId = (UCHAR)QueryDword(key, L"FeedReportID", 0);
    QueryString(key, L"Manufacturer", device->manufacturer);
    QueryString(key, L"Product", device->product);
    QueryString(key, L"SerialNumber", device->serial);
    info = QueryValue(key, L"FeatureReports");
    if (info != NULL) {
        if (info->Type == REG_BINARY) {
            ReadFeatures(device, info->Data, info->DataLength);
        }
        ExFreePoolWithTag(info, VTP_TAG);
    }
    SetState(key, L"started");
    ZwClose(key);
    return STATUS_SUCCESS;
}

// ---- reads and the feed ---------------------------------------------------------------------

static void FreeQueued(Device* device) {
    while (!IsListEmpty(&device->queued)) {
        QueuedReport* report =
            CONTAINING_RECORD(RemoveHeadList(&device->queued), QueuedReport, entry);
        ExFreePoolWithTag(report, VTP_TAG);
    }
    device->queuedCount = 0;
}

static void NTAPI CancelRead(PDEVICE_OBJECT fdo, PIRP irp) {
    Device* device = DeviceOf(fdo);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KIRQL irql = PASSIVE_LEVEL;
    KeAcquireSpinLock(&device->lock, &irql);
    // A read already taken off the list by a feed has an empty entry: removing it is harmless.
    if (!IsListEmpty(&irp->Tail.Overlay.ListEntry)) {
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        InitializeListHead(&irp->Tail.Overlay.ListEntry);
        device->pendingCount--;
    }
    KeReleaseSpinLock(&device->lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

static ULONG CopyReport(PIRP irp, const QueuedReport* report) {
    const ULONG room =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG length = report->length < room ? report->length : room;
    RtlCopyMemory(irp->UserBuffer, report->bytes, length);
    return length;
}

// The oldest pending read that can still be completed (its cancel routine taken back), or null;
// called under the lock.
static PIRP TakePendingRead(Device* device) {
    while (!IsListEmpty(&device->pendingReads)) {
        PLIST_ENTRY entry = RemoveHeadList(&device->pendingReads);
        InitializeListHead(entry);
        device->pendingCount--;
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, NULL) != NULL) {
            return irp;
        }
        // Its cancel routine is running and completes it.
    }
    return NULL;
}

static NTSTATUS Read(PDEVICE_OBJECT fdo, PIRP irp) {
    Device* device = DeviceOf(fdo);
    KIRQL irql = PASSIVE_LEVEL;
    KeAcquireSpinLock(&device->lock, &irql);
    if (device->removed) {
        KeReleaseSpinLock(&device->lock, irql);
        return Complete(irp, STATUS_DELETE_PENDING, 0);
    }
    if (!IsListEmpty(&device->queued)) {
        QueuedReport* report =
            CONTAINING_RECORD(RemoveHeadList(&device->queued), QueuedReport, entry);
        device->queuedCount--;
        device->deliveredCount++;
        KeReleaseSpinLock(&device->lock, irql);
        const ULONG length = CopyReport(irp, report);
        ExFreePoolWithTag(report, VTP_TAG);
        return Complete(irp, STATUS_SUCCESS, length);
    }
    IoSetCancelRoutine(irp, CancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        KeReleaseSpinLock(&device->lock, irql);
        return Complete(irp, STATUS_CANCELLED, 0);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&device->pendingReads, &irp->Tail.Overlay.ListEntry);
    device->pendingCount++;
    KeReleaseSpinLock(&device->lock, irql);
    return STATUS_PENDING;
}

// A fed input report: to a waiting read at once, else to the queue.
static NTSTATUS Feed(Device* device, const UCHAR* payload, ULONG length) {
    if (length < 3 || payload[0] != VTP_FEED_MAGIC0 || payload[1] != VTP_FEED_MAGIC1 ||
        payload[2] == 0 || 3u + payload[2] > length) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG size = payload[2];
    QueuedReport* report =
        ExAllocatePoolWithTag(NonPagedPool, FIELD_OFFSET(QueuedReport, bytes) + size, VTP_TAG);
    if (report == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    report->length = size;
    RtlCopyMemory(report->bytes, payload + 3, size);
    KIRQL irql = PASSIVE_LEVEL;
    KeAcquireSpinLock(&device->lock, &irql);
    if (device->removed) {
        KeReleaseSpinLock(&device->lock, irql);
        ExFreePoolWithTag(report, VTP_TAG);
        return STATUS_DELETE_PENDING;
    }
    PIRP irp = IsListEmpty(&device->queued) ? TakePendingRead(device) : NULL;
    if (irp == NULL) {
        if (device->queuedCount >= VTP_MAX_QUEUED) {
            device->refusedCount++;
            KeReleaseSpinLock(&device->lock, irql);
            ExFreePoolWithTag(report, VTP_TAG);
            return STATUS_DEVICE_BUSY;
        }
        InsertTailList(&device->queued, &report->entry);
        device->queuedCount++;
        device->fedCount++;
        KeReleaseSpinLock(&device->lock, irql);
        return STATUS_SUCCESS;
    }
    device->fedCount++;
    device->deliveredCount++;
    KeReleaseSpinLock(&device->lock, irql);
    const ULONG copied = CopyReport(irp, report);
    ExFreePoolWithTag(report, VTP_TAG);
    Complete(irp, STATUS_SUCCESS, copied);
    return STATUS_SUCCESS;
}

// ---- feature reports and strings ------------------------------------------------------------

// A feature packet's bytes after its report id, where the class driver left the id in front.
static const UCHAR* AfterId(const VTP_HID_XFER_PACKET* packet, ULONG* length) {
    *length = packet->reportBufferLen;
    if (packet->reportId != 0 && *length > 0 && packet->reportBuffer[0] == packet->reportId) {
        *length -= 1;
        return packet->reportBuffer + 1;
    }
    return packet->reportBuffer;
}

typedef struct {
    PIO_WORKITEM item;
    PIRP irp;
} PrimeWork;

// On a worker thread: the asking is a call into the host's own raw input, which opens every
// device, whose requests this driver's dispatching thread must stay free to serve.
static void NTAPI PrimeHost(PDEVICE_OBJECT fdo, PVOID context) {
    (void)fdo;
    PrimeWork* work = context;
    UCHAR info[64];
    unsigned int size = sizeof info;
    GetRawInputDeviceInfoW(NULL, VTP_RIDI_DEVICEINFO, info, &size);
    Complete(work->irp, STATUS_SUCCESS, 0);
    IoFreeWorkItem(work->item);
    ExFreePoolWithTag(work, VTP_TAG);
}

static NTSTATUS Prime(PDEVICE_OBJECT fdo, PIRP irp) {
    PrimeWork* work = ExAllocatePoolWithTag(NonPagedPool, sizeof *work, VTP_TAG);
    if (work == NULL) {
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    work->item = IoAllocateWorkItem(fdo);
    if (work->item == NULL) {
        ExFreePoolWithTag(work, VTP_TAG);
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    work->irp = irp;
    IoMarkIrpPending(irp);
    IoQueueWorkItem(work->item, PrimeHost, DelayedWorkQueue, work);
    return STATUS_PENDING;
}

static NTSTATUS SetFeature(PDEVICE_OBJECT fdo, Device* device, PIRP irp) {
    VTP_HID_XFER_PACKET* packet = irp->UserBuffer;
    if (packet == NULL || packet->reportBuffer == NULL) {
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    ULONG length = 0;
    const UCHAR* payload = AfterId(packet, &length);
    if (packet->reportId == device->feedReportId && length >= 2 && payload[0] == VTP_FEED_MAGIC0 &&
        payload[1] == VTP_FEED_MAGIC1) {
        return Complete(irp, Feed(device, payload, length), 0);
    }
    if (packet->reportId == device->feedReportId && length >= 2 && payload[0] == VTP_FEED_MAGIC0 &&
        payload[1] == VTP_PRIME_MAGIC1) {
        return Prime(fdo, irp);
    }
    // Any other feature report is kept as set (Input Mode, for one), for the next read of it.
    KIRQL irql = PASSIVE_LEVEL;
    KeAcquireSpinLock(&device->lock, &irql);
    FeatureReport* feature = NULL;
    for (ULONG i = 0; i < device->featureCount; ++i) {
        if (device->features[i].id == packet->reportId) {
            feature = &device->features[i];
        }
    }
    if (feature == NULL && device->featureCount < VTP_MAX_FEATURES) {
        feature = &device->features[device->featureCount++];
        feature->id = packet->reportId;
    }
    if (feature != NULL) {
        const ULONG size = length + 1 < VTP_MAX_FEATURE_BYTES ? length + 1 : VTP_MAX_FEATURE_BYTES;
        feature->bytes[0] = packet->reportId;
        RtlCopyMemory(feature->bytes + 1, payload, size - 1);
        feature->length = size;
    }
    KeReleaseSpinLock(&device->lock, irql);
    return Complete(irp, feature != NULL ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES, 0);
}

static NTSTATUS GetFeature(Device* device, PIRP irp) {
    VTP_HID_XFER_PACKET* packet = irp->UserBuffer;
    if (packet == NULL || packet->reportBuffer == NULL || packet->reportBufferLen == 0) {
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    // An unknown report reads as zeros after its id, as a device with nothing to say.
    RtlZeroMemory(packet->reportBuffer, packet->reportBufferLen);
    packet->reportBuffer[0] = packet->reportId;
    KIRQL irql = PASSIVE_LEVEL;
    KeAcquireSpinLock(&device->lock, &irql);
    if (device->feedReportId == packet->reportId) {
        // The magic, then fed, delivered, queued, pending reads and refused, 4 bytes each.
        const ULONG counters[] = {device->fedCount, device->deliveredCount, device->queuedCount,
                                  device->pendingCount, device->refusedCount};
        UCHAR status[3 + sizeof counters];
        status[0] = packet->reportId;
        status[1] = VTP_FEED_MAGIC0;
        status[2] = VTP_FEED_MAGIC1;
        RtlCopyMemory(status + 3, counters, sizeof counters);
        KeReleaseSpinLock(&device->lock, irql);
        const ULONG length =
            sizeof status < packet->reportBufferLen ? sizeof status : packet->reportBufferLen;
        RtlCopyMemory(packet->reportBuffer, status, length);
        return Complete(irp, STATUS_SUCCESS, packet->reportBufferLen);
    }
    for (ULONG i = 0; i < device->featureCount; ++i) {
        const FeatureReport* feature = &device->features[i];
        if (feature->id == packet->reportId) {
            const ULONG length = feature->length < packet->reportBufferLen
                                     ? feature->length
                                     : packet->reportBufferLen;
            RtlCopyMemory(packet->reportBuffer, feature->bytes, length);
        }
    }
    KeReleaseSpinLock(&device->lock, irql);
    return Complete(irp, STATUS_SUCCESS, packet->reportBufferLen);
}

static NTSTATUS GetString(Device* device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // The string's id is the low word of the value passed in place of an input buffer.
    const ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xffff;
    // Windows numbers the strings 14, 15 and 16; Wine's class driver asks for 1, 2 and 3.
    const WCHAR* text = NULL;
    if (id == VTP_HID_STRING_ID_IMANUFACTURER || id == 1) {
        text = device->manufacturer;
    } else if (id == VTP_HID_STRING_ID_IPRODUCT || id == 2) {
        text = device->product;
    } else if (id == VTP_HID_STRING_ID_ISERIALNUMBER || id == 3) {
        text = device->serial;
    }
    if (text == NULL) {
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    ULONG chars = 0;
    while (text[chars] != 0) {
        ++chars;
    }
    const ULONG bytes = (chars + 1) * sizeof(WCHAR);
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < bytes || irp->UserBuffer == NULL) {
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    RtlCopyMemory(irp->UserBuffer, text, bytes);
    return Complete(irp, STATUS_SUCCESS, bytes);
}

static NTSTATUS NTAPI InternalIoctl(PDEVICE_OBJECT fdo, PIRP irp) {
    Device* device = DeviceOf(fdo);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VTP_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        if (room < sizeof(VTP_HID_DESCRIPTOR)) {
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        }
        VTP_HID_DESCRIPTOR* out = irp->UserBuffer;
        out->bLength = sizeof *out;
        out->bDescriptorType = 0x21;
        out->bcdHID = 0x0100;
        out->bCountry = 0;
        out->bNumDescriptors = 1;
        out->bReportType = 0x22;
        out->wReportLength = (USHORT)device->descriptorLength;
        return Complete(irp, STATUS_SUCCESS, sizeof *out);
    }
    case VTP_IOCTL_HID_GET_REPORT_DESCRIPTOR:
        if (room < device->descriptorLength) {
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        }
        RtlCopyMemory(irp->UserBuffer, device->descriptor, device->descriptorLength);
        return Complete(irp, STATUS_SUCCESS, device->descriptorLength);
    case VTP_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        if (room < sizeof(VTP_HID_DEVICE_ATTRIBUTES)) {
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        }
        VTP_HID_DEVICE_ATTRIBUTES* out = irp->UserBuffer;
        RtlZeroMemory(out, sizeof *out);
        out->Size = sizeof *out;
        out->VendorID = device->vendorId;
        out->ProductID = device->productId;
        out->VersionNumber = device->version;
        return Complete(irp, STATUS_SUCCESS, sizeof *out);
    }
    case VTP_IOCTL_HID_READ_REPORT:
        return Read(fdo, irp);
    case VTP_IOCTL_HID_GET_STRING:
        return GetString(device, irp);
    case VTP_IOCTL_HID_SET_FEATURE:
        return SetFeature(fdo, device, irp);
    case VTP_IOCTL_HID_GET_FEATURE:
        return GetFeature(device, irp);
    case VTP_IOCTL_HID_WRITE_REPORT:
    case VTP_IOCTL_HID_SET_OUTPUT_REPORT:
    case VTP_IOCTL_HID_ACTIVATE_DEVICE:
    case VTP_IOCTL_HID_DEACTIVATE_DEVICE:
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

// ---- plug and play --------------------------------------------------------------------------

static NTSTATUS NTAPI Started(PDEVICE_OBJECT fdo, PIRP irp, PVOID event) {
    (void)fdo;
    (void)irp;
    KeSetEvent((PKEVENT)event, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Ends the device's reads: pending ones complete as deleted, queued reports are freed.
static void EndReads(Device* device) {
    KIRQL irql = PASSIVE_LEVEL;
    KeAcquireSpinLock(&device->lock, &irql);
    device->removed = TRUE;
    FreeQueued(device);
    LIST_ENTRY ended;
    InitializeListHead(&ended);
    for (PIRP irp = TakePendingRead(device); irp != NULL; irp = TakePendingRead(device)) {
        InsertTailList(&ended, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&device->lock, irql);
    while (!IsListEmpty(&ended)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&ended), IRP, Tail.Overlay.ListEntry);
        Complete(irp, STATUS_DELETE_PENDING, 0);
    }
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT fdo, PIRP irp) {
    Device* device = DeviceOf(fdo);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        // The bus below starts first.
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, Started, &event, TRUE, TRUE, TRUE);
        NTSTATUS status = IoCallDriver(NextOf(fdo), irp);
        if (status == STATUS_PENDING) {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
            status = irp->IoStatus.Status;
        }
        return Complete(irp, status, 0);
    }
    case IRP_MN_SURPRISE_REMOVAL:
        EndReads(device);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        EndReads(device);
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        const NTSTATUS status = IoCallDriver(NextOf(fdo), irp);
        if (device->descriptor != NULL) {
            ExFreePoolWithTag(device->descriptor, VTP_TAG);
            device->descriptor = NULL;
        }
        return status;
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(NextOf(fdo), irp);
}

static NTSTATUS NTAPI Power(PDEVICE_OBJECT fdo, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(NextOf(fdo), irp);
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT fdo) {
    (void)driver;
    Device* device = DeviceOf(fdo);
    RtlZeroMemory(device, sizeof *device);
    KeInitializeSpinLock(&device->lock);
    InitializeListHead(&device->queued);
    InitializeListHead(&device->pendingReads);
    // Read before anything asks for the descriptor; a device without one does not start.
    const NTSTATUS status = ReadConfiguration(PdoOf(fdo), device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void NTAPI Unload(PDRIVER_OBJECT driver) {
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalIoctl;
    driver->MajorFunction[IRP_MJ_PNP] = Pnp;
    driver->MajorFunction[IRP_MJ_POWER] = Power;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;

    VTP_HID_MINIDRIVER_REGISTRATION registration;
    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = VTP_HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(Device);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
