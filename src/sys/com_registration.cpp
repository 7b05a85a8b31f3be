#include "sys/com_registration.h"

#include "sys/handles.h"
#include "sys/registry.h"

#include <objbase.h>

namespace sys::ComRegistration {

// The registration broker, an out-of-process server that registers 32-bit COM DLLs for us.
// It is marshalled through its own type library, so this declaration must keep the slot
// order and argument types of its IDL (boolean is its one-byte flag). Not in an anonymous
// namespace: the compiler would see no implementation and turn every call into a trap.
struct IComRegistrationBroker : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterServer(BSTR dllPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterServer(BSTR dllPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsClassRegistered(BSTR clsidText, boolean* registered) = 0;
};

namespace {

// {8D3B61E2-0A47-4C9F-B25E-7F1C04A9D3B8}
constexpr IID kBrokerIid = {0x8d3b61e2, 0x0a47, 0x4c9f,
                            {0xb2, 0x5e, 0x7f, 0x1c, 0x04, 0xa9, 0xd3, 0xb8}};

// Where COM looks a class up, in either view.
constexpr const wchar_t* kClassesKey = L"SOFTWARE\\Classes\\CLSID";
constexpr const wchar_t* kInprocServerKey = L"InprocServer32";
constexpr const wchar_t* kLocalServerKey = L"LocalServer32";
constexpr const wchar_t* kThreadingModelValue = L"ThreadingModel";
constexpr const wchar_t* kDefaultValue = L"";

std::wstring ClassKey(const std::wstring& clsid) { return std::wstring(kClassesKey) + L"\\" + clsid; }
std::wstring InprocServerKey(const std::wstring& clsid) { return ClassKey(clsid) + L"\\" + kInprocServerKey; }

constexpr char kRegisterExport[] = "DllRegisterServer";
constexpr char kUnregisterExport[] = "DllUnregisterServer";
using ServerExport = HRESULT(STDAPICALLTYPE*)();

using BrokerMethod = HRESULT (STDMETHODCALLTYPE IComRegistrationBroker::*)(BSTR);

// A BSTR that cannot be allocated fails as E_OUTOFMEMORY would: its low word, 14.
constexpr DWORD kNoMemory = ERROR_OUTOFMEMORY;

// The multithreaded apartment for the length of one operation. A thread that already
// lives in another apartment fails to join and has nothing to leave.
class ComApartment {
public:
    ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// The value `name` (empty: the default value) of HKLM\keyPath into `text`, which is left
// as it is when the key or the value is not there.
DWORD ReadServerValue(const std::wstring& keyPath, const wchar_t* name, DWORD view,
                      std::wstring& text) {
    std::vector<Registry::RegistryValueData> values;
    const DWORD read = Registry::GetValue(HKEY_LOCAL_MACHINE, keyPath, values, view);
    if (read == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (read != ERROR_SUCCESS) return read;
    for (const Registry::RegistryValueData& value : values)
        if (Registry::SameName(value.Name, name)) text = value.Value;
    return ERROR_SUCCESS;
}

// A folder in the DLL's place is no module to call. It is answered as the broker answers
// for the 32-bit DLL, as a DLL that is not there (126), which the removal of a deployment
// tolerates: the folder is then deleted with the rest instead of blocking the removal.
bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD CallServerExport(const std::wstring& dllPath, const char* exportName) {
    if (IsFolder(dllPath)) return ERROR_MOD_NOT_FOUND;
    const UniqueModule module(::LoadLibraryW(dllPath.c_str()));
    if (!module) return ::GetLastError();
    const FARPROC address = ::GetProcAddress(module.get(), exportName);
    if (!address) return ::GetLastError();
    // Through the generic function type, which converts to any other without a warning.
    const auto serverExport = reinterpret_cast<ServerExport>(reinterpret_cast<void (*)()>(address));
    return CodeFromHResult(serverExport());
}

HRESULT CreateBroker(ComPtr<IComRegistrationBroker>& broker) {
    return ::CoCreateInstance(kBrokerClsid, nullptr, CLSCTX_LOCAL_SERVER, kBrokerIid,
                              broker.put_void());
}

DWORD CallBroker(const std::wstring& dllPath, BrokerMethod method) {
    const ComApartment apartment;
    if (FAILED(apartment.result())) return CodeFromHResult(apartment.result());
    ComPtr<IComRegistrationBroker> broker;
    if (const HRESULT created = CreateBroker(broker); FAILED(created))
        return CodeFromHResult(created);
    const UniqueBstr path(::SysAllocString(dllPath.c_str()));
    if (!path) return kNoMemory;
    return CodeFromHResult((broker.get()->*method)(path.get()));
}

}  // namespace

DWORD CodeFromHResult(HRESULT result) {
    return FAILED(result) ? static_cast<DWORD>(result) & 0xFFFF : ERROR_SUCCESS;
}

DWORD RegisterComDll(const std::wstring& dllPath) { return CallServerExport(dllPath, kRegisterExport); }

DWORD UnregisterComDll(const std::wstring& dllPath) {
    return CallServerExport(dllPath, kUnregisterExport);
}

DWORD RegisterComDllByBroker(const std::wstring& dllPath) {
    return CallBroker(dllPath, &IComRegistrationBroker::RegisterServer);
}

DWORD UnregisterComDllByBroker(const std::wstring& dllPath) {
    return CallBroker(dllPath, &IComRegistrationBroker::UnregisterServer);
}

DWORD VerifyRegistration(const std::wstring& clsid, bool& registered, bool is64Bit) {
    registered = false;
    const ComApartment apartment;
    if (FAILED(apartment.result())) return CodeFromHResult(apartment.result());

    if (is64Bit) {
        CLSID classId;
        if (const HRESULT parsed = ::CLSIDFromString(clsid.c_str(), &classId); FAILED(parsed))
            return CodeFromHResult(parsed);
        // A class that COM cannot find is the answer, not a failure.
        ComPtr<IClassFactory> factory;
        registered = SUCCEEDED(::CoGetClassObject(classId, CLSCTX_INPROC_SERVER, nullptr,
                                                  IID_IClassFactory, factory.put_void()));
        return ERROR_SUCCESS;
    }

    ComPtr<IComRegistrationBroker> broker;
    if (const HRESULT created = CreateBroker(broker); FAILED(created))
        return CodeFromHResult(created);
    const UniqueBstr text(::SysAllocString(clsid.c_str()));
    if (!text) return kNoMemory;
    boolean answer = FALSE;
    if (const HRESULT asked = broker->IsClassRegistered(text.get(), &answer); FAILED(asked))
        return CodeFromHResult(asked);
    registered = answer != FALSE;
    return ERROR_SUCCESS;
}

DWORD GetClassServer(const std::wstring& clsid, DWORD view, std::wstring& dllPath) {
    std::vector<Registry::RegistryValueData> values;
    const DWORD read = Registry::GetValue(HKEY_LOCAL_MACHINE, InprocServerKey(clsid), values, view);
    if (read != ERROR_SUCCESS) return read;
    for (const Registry::RegistryValueData& value : values) {
        if (!value.Name.empty() || (value.ValueType != REG_SZ && value.ValueType != REG_EXPAND_SZ)) continue;
        dllPath = value.Value;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

DWORD RemoveClass(const std::wstring& clsid, DWORD view) {
    return Registry::RemoveKey(HKEY_LOCAL_MACHINE, ClassKey(clsid), view);
}

DWORD ReadClassRegistration(const std::wstring& clsid, DWORD view, ClassRegistration& registration) {
    ClassRegistration read;
    // Listing its subkeys opens the key, and a key that cannot be opened is no absent one.
    std::vector<std::wstring> subKeys;
    const DWORD opened = Registry::EnumSubKeys(HKEY_LOCAL_MACHINE, ClassKey(clsid), subKeys, view);
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) return opened;
    read.registered = opened == ERROR_SUCCESS;
    if (read.registered) {
        const DWORD server = GetClassServer(clsid, view, read.inprocServer);
        if (server != ERROR_SUCCESS && server != ERROR_FILE_NOT_FOUND) return server;
        if (DWORD r = ReadServerValue(InprocServerKey(clsid), kThreadingModelValue, view, read.threadingModel))
            return r;
        const std::wstring local = ClassKey(clsid) + L"\\" + kLocalServerKey;
        if (DWORD r = ReadServerValue(local, kDefaultValue, view, read.localServer)) return r;
    }
    registration = std::move(read);
    return ERROR_SUCCESS;
}

}  // namespace sys::ComRegistration
