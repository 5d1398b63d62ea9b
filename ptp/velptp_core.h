// The Precision Touchpad device library's core: the COM objects over raw input with their
// class table, and self-registration. velptp.dll exports thin wrappers over it; tests link it
// to drive a device with frames of their own.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "device/velcom.h"
#include "frame_source.h"
#include "pad_geometry.h"
#include "settings.h"

// Class identifiers of the three objects, registered under the same ProgIDs as every device
// library's.
inline constexpr CLSID CLSID_VelPtpApi = {
    0x4332515a, 0x7bf1, 0x45ac, {0xb2, 0x72, 0x82, 0x58, 0xc4, 0x68, 0xee, 0x01}};
inline constexpr CLSID CLSID_VelPtpPointingDevice = {
    0x4332515a, 0x7bf1, 0x45ac, {0xb2, 0x72, 0x82, 0x58, 0xc4, 0x68, 0xee, 0x02}};
inline constexpr CLSID CLSID_VelPtpPacket = {
    0x4332515a, 0x7bf1, 0x45ac, {0xb2, 0x72, 0x82, 0x58, 0xc4, 0x68, 0xee, 0x03}};

enum class PtpObject { VelAPI, PointingDevice, VelPacket };

// Recording a session as a scenario of the simulated touchpad: the environment variable, or
// else the string value under the library's key of HKEY_CURRENT_USER (which the on-screen
// panel's settings share, overlay/settings.h), names the file (environment strings such as
// %TEMP% are expanded). Read at each claim.
inline constexpr wchar_t RecordVariable[] = L"VELPTP_RECORD";
inline constexpr const wchar_t* SettingsKey = overlay::SettingsKeyPath;
inline constexpr wchar_t RecordValue[] = L"RecordScenario";
// Recording the touchpads as they are, for a replay on a virtual touchpad under Wine (the raw
// reports of every touchpad collection, ptp/report_recorder.h): the variable, or else the string
// value beside RecordScenario, names a folder; each claim records into a subfolder of its own.
inline constexpr wchar_t RecordReportsVariable[] = L"VELPTP_RECORD_REPORTS";
inline constexpr wchar_t RecordReportsValue[] = L"RecordReports";

// Statuses of the library's own failures.
inline constexpr HRESULT NoTouchpad = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
inline constexpr HRESULT TouchpadUnusable = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
inline constexpr HRESULT NotAttached = E_UNEXPECTED;

// Object creation for the class factory; any thread. Returns a COM status.
HRESULT PtpCreateObject(PtpObject object, REFIID iid, void** ppv);
HRESULT PtpGetClassObject(REFCLSID clsid, REFIID iid, void** ppv);
// S_OK when no object, server lock or delivery thread of the library is alive.
HRESULT PtpCanUnloadNow();
LONG PtpLiveObjects();
// Waits until no delivery thread of the process runs; FALSE on time-out.
BOOL PtpWaitDelivery(DWORD ms);

// Writes or removes the three classes and their ProgIDs under HKEY_CLASSES_ROOT; see
// comserver/com_server.h for whose ProgIDs are removed.
HRESULT PtpRegisterServer(const wchar_t* dllPath);
HRESULT PtpUnregisterServer();

// Attaches a PointingDevice of this library to frames from `maker` on a pad of `geometry`, in
// place of a touchpad (what Attach does with the touchpad's raw input). For tests, which have
// no touchpad. E_INVALIDARG for an object that is not this library's device.
HRESULT PtpAttachSource(PointingDevice* device, const ptp::PadGeometry& geometry,
                        FrameSourceMaker maker);
