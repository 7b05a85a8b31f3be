#include "engine/plugin_installation_manager.h"

#include "engine/registry_steps.h"

#include <cstdlib>

namespace {

using sys::Registry::RegistryValueData;

// The entry's data as the registry layer writes it: text for strings, the decimal text
// for numbers (converted there), no bytes for binary values.
RegistryValueData ToValueData(const RegistryValueEntry& entry) {
    RegistryValueData data;
    data.ValueType = entry.ValueType;
    data.Name = entry.Name;
    data.Value = entry.Value;
    return data;
}

// Leading blanks and a sign, then digits up to the first non-digit, as the registry
// layer converts the text when it writes the number.
DWORD DecimalTextToDword(const std::wstring& text) { return static_cast<DWORD>(_wtoi(text.c_str())); }

}  // namespace

bool MatchesExpectedValue(const RegistryValueEntry& expected, const RegistryValueData& actual) {
    if (!sys::Registry::SameName(actual.Name, expected.Name) || actual.ValueType != expected.ValueType)
        return false;
    switch (expected.ValueType) {
    case REG_SZ:
        return actual.Value == expected.Value;
    case REG_BINARY:
        if (actual.BinaryData.empty()) return false;
        return actual.BinaryDataAsText() == expected.Value;
    case REG_DWORD:
        return actual.DwordValue == DecimalTextToDword(expected.Value);
    default:
        // REG_EXPAND_SZ and others: the profiles supply only strings and numbers, so
        // compare the text the registry layer read.
        return actual.Value == expected.Value;
    }
}

DWORD PluginInstallationManager::AddSettingsToRegistry() {
    Log(kLogTrace) << L"AddSettingsToRegistry Start";
    std::vector<RegistryKeyValueData> keys;
    if (DWORD r = GetRegistryKeyValueData(keys)) {
        Log(kLogError) << L"AddSettingsToRegistry: GetRegistryKeyValueData failure" << kErrorSuffix << r;
        return r;
    }
    for (const RegistryKeyValueData& key : keys) {
        Log(kLogTrace) << L"Adding subKey " << key.subKey;
        if (DWORD r = sys::Registry::AddKey(key.root, key.subKey, key.registryView)) {
            Log(kLogError) << L"AddSettingsToRegistry: AddKey failure" << kErrorSuffix << r;
            return r;
        }
        std::vector<RegistryValueData> values;
        for (const RegistryValueEntry& entry : key.regValueList) {
            Log(kLogTrace) << L"Name= " << entry.Name << L" Value= " << entry.Value
                           << L" ValueType= " << entry.ValueType;
            values.push_back(ToValueData(entry));
        }
        if (values.empty()) {
            Log(kLogError) << L"AddSettingsToRegistry: SetValue failure, regValueList is empty"
                           << kErrorSuffix << static_cast<DWORD>(ERROR_INVALID_DATA);
            return ERROR_INVALID_DATA;
        }
        if (DWORD r = sys::Registry::SetValue(key.root, key.subKey, values, key.registryView)) {
            Log(kLogError) << L"AddSettingsToRegistry: SetValue failure" << kErrorSuffix << r;
            return r;
        }
    }
    Log(kLogTrace) << L"AddSettingsToRegistry End";
    return ERROR_SUCCESS;
}

DWORD PluginInstallationManager::RemoveSettingsFromRegistry() {
    Log(kLogTrace) << L"RemoveSettingsFromRegistry Start";
    std::vector<RegistryKeyValueData> keys;
    if (DWORD r = GetAllRegistryKeyValueData(keys)) {
        Log(kLogError) << L"RemoveSettingsFromRegistry: GetRegistryKeyValueData failure" << kErrorSuffix << r;
        return r;
    }
    DWORD lastFailure = ERROR_SUCCESS;
    for (const RegistryKeyValueData& key : keys) {
        Log(kLogTrace) << L"Remove subKey " << key.subKey;
        const DWORD r = sys::Registry::RemoveKey(key.root, key.subKey, key.registryView);
        if (r == ERROR_FILE_NOT_FOUND) {
            Log(kLogTrace) << L"RemoveSettingsFromRegistry: key doesn't found";
        } else if (r != ERROR_SUCCESS) {
            Log(kLogError) << L"RemoveSettingsFromRegistry: RemoveKey failure" << kErrorSuffix << r;
            lastFailure = r;
        }
    }
    Log(kLogTrace) << L"RemoveSettingsFromRegistry End";
    return lastFailure;
}

DWORD PluginInstallationManager::VerifyRegistrySettings(bool& settingsOk) {
    std::vector<RegistryKeyValueData> keys;
    if (DWORD r = GetRegistryKeyValueData(keys)) {
        Log(kLogError) << L"VerifyRegistrySettings: GetRegistryKeyValueData failure" << kErrorSuffix << r;
        return r;
    }
    for (const RegistryKeyValueData& key : keys) {
        Log(kLogTrace) << L"Validating subKey " << key.subKey;
        bool exists = false;
        if (DWORD r = sys::Registry::DoesKeyExist(key.root, key.subKey, exists, key.registryView)) {
            Log(kLogError) << L"VerifyRegistrySettings: DoesKeyExist failure" << kErrorSuffix << r;
            return r;
        }
        if (!exists) {
            Log(kLogTrace) << L"VerifyRegistrySettings: " << L"Key = " << key.subKey << L"  not found";
            settingsOk = false;
            return ERROR_SUCCESS;
        }
        std::vector<RegistryValueData> values;
        if (DWORD r = sys::Registry::GetValue(key.root, key.subKey, values, key.registryView)) {
            Log(kLogError) << L"VerifyRegistrySettings: GetValue failure" << kErrorSuffix << r;
            return r;
        }
        for (const RegistryValueEntry& entry : key.regValueList) {
            bool found = false;
            for (const RegistryValueData& value : values) found = found || MatchesExpectedValue(entry, value);
            if (!found) {
                Log(kLogTrace) << L"Name= " << entry.Name << L" Value= " << entry.Value
                               << L" ValueType= " << entry.ValueType << L"NOT FOUND in registry";
                settingsOk = false;
                return ERROR_SUCCESS;
            }
        }
    }
    return ERROR_SUCCESS;
}
