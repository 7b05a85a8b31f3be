// Outlook's per-user records of the add-in, relative to a user hive: repaired by the
// health repair, read by the reference host's diagnosis.
#pragma once

#include <windows.h>

// Records of disabled add-ins. The dotted group has no 14.0 row.
inline constexpr const wchar_t* kDisabledItemsKeys[] = {
    L"SOFTWARE\\Microsoft\\Office\\10.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\11.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\12.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\10\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\11\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\12\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\14\\Outlook\\Resiliency\\DisabledItems",
    L"SOFTWARE\\Microsoft\\Office\\15\\Outlook\\Resiliency\\DisabledItems",
};
// Holds a value named for the add-in's ProgID.
inline constexpr const wchar_t* kLoadTimesKey = L"Software\\Microsoft\\Office\\15.0\\Outlook\\AddInLoadTimes";
// Under the per-user add-in key (the machine's add-in key path, in the hive).
inline constexpr const wchar_t* kLoadBehaviorValue = L"LoadBehavior";
inline constexpr const wchar_t* kLoadBehaviorEnabled = L"00000003";
// The per-user records live in the process's own view.
inline constexpr DWORD kPerUserRecordsView = 0;
