// FileVersion text of a file's version resource.
#pragma once

#include <windows.h>

#include <string>

namespace sys::VersionInfo {

// S_OK with the FileVersion of the first translation (left untouched when that table has
// none), or a failure HRESULT with `version` untouched.
HRESULT GetFileVersionString(const std::wstring& path, std::wstring& version);
// GetFileVersionInfoExW when version.dll has it, else GetFileVersionInfoW.
BOOL LoadFileVersionInfo(const std::wstring& path, DWORD handle, DWORD size, void* buffer);

}  // namespace sys::VersionInfo
