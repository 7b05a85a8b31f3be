// Where Outlook records its installations: read by detection, and by the reference host's
// diagnosis, which shows every find with its key and view.
#pragma once

// Outlook's install roots under HKEY_LOCAL_MACHINE, searched in this order. There was
// no Office 13.
inline constexpr const wchar_t* kInstallRootKeys[] = {
    L"SOFTWARE\\Microsoft\\Office\\10.0\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\11.0\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\12.0\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\14.0\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\15.0\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\10\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\11\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\12\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\14\\Outlook\\InstallRoot",
    L"SOFTWARE\\Microsoft\\Office\\15\\Outlook\\InstallRoot",
};
inline constexpr const wchar_t* kInstallRootValue = L"Path";

// Program folders of the Office versions the add-in supports.
inline constexpr const wchar_t* kOfficeFolderKeywords[] = {
    L"OFFICE10", L"OFFICE11", L"OFFICE12", L"OFFICE14", L"OFFICE15",
};
