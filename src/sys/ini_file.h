// Private-profile (INI) files whose key values are lists of items separated by a
// delimiter. No operation ever creates a file: a file that cannot be opened gives 2.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sys::IniFile {

// Whether two items of a list are the same one: letter case aside, as adding and removing
// compare them.
bool SameItem(const std::wstring& a, const std::wstring& b);

// The whole value, whatever its length; empty for an absent file, section or key.
DWORD ReadValue(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                std::wstring& value);
// Appends the trimmed, non-empty items of `value`.
void SplitValue(const std::wstring& value, const std::wstring& delimiter,
                std::vector<std::wstring>& items);
// Appends `item` unless an equal item (ignoring case) is there.
DWORD AddValue(const std::wstring& file, const std::wstring& section, const std::wstring& key,
               const std::wstring& item, const std::wstring& delimiter);
// Rewrites the value without the items equal to `item` (ignoring case).
DWORD RemoveValue(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                  const std::wstring& item, const std::wstring& delimiter);
DWORD GetValues(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                const std::wstring& delimiter, std::vector<std::wstring>& items);
// Writes the empty value unless it is already empty.
DWORD ClearValue(const std::wstring& file, const std::wstring& section, const std::wstring& key);

}  // namespace sys::IniFile
