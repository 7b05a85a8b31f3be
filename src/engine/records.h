// Records that the engine and its profiles exchange.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// One entry per installed copy of the application (log name appInstallLocationList).
using ApplicationPathList = std::vector<std::wstring>;

// Source name inside installSourceDir -> destination folders; ordered by UTF-16 code units.
using FileCopyMap = std::map<std::wstring, std::vector<std::wstring>>;
using FileCopyEntry = FileCopyMap::value_type;

// COM server file name -> true for the 64-bit server.
using COMServerFileMap = std::map<std::wstring, bool>;

struct RegistryValueEntry {
    std::wstring Name;
    DWORD ValueType = REG_SZ;  // REG_SZ, REG_EXPAND_SZ, REG_BINARY or REG_DWORD
    std::wstring Value;        // REG_DWORD as decimal text, e.g. "00000003"
};

struct RegistryKeyValueData {
    HKEY root = nullptr;
    std::wstring subKey;
    std::vector<RegistryValueEntry> regValueList;
    DWORD registryView = 0;  // 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY
};

// An item `value` in the `separator`-delimited list under `key` in `section` of every
// file in iniFilePaths. An empty iniFilePaths means there is nothing to do.
struct INIFileEntryInfo {
    std::vector<std::wstring> iniFilePaths;
    std::wstring section;
    std::wstring key;
    std::wstring value;
    std::wstring separator;
};

// What UpdateINILotusExtension does to one INI file; any other number does nothing.
using IniOperation = DWORD;
constexpr IniOperation kIniAdd = 0;
constexpr IniOperation kIniRemove = 1;
constexpr IniOperation kIniRead = 2;
