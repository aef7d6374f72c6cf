// Small move-only owners of Windows resources. One generic owner, TUniqueAny,
// gives every kind its alias; COM pointers have their own TComPtr. Copying is
// deleted everywhere, so a resource has exactly one owner and is released on
// every path.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <bcrypt.h>
#include <wincrypt.h>
#include <restartmanager.h>

#include <utility>

// Traits: static Invalid() and static Close(T).
template <typename T, typename Traits>
class TUniqueAny {
public:
    TUniqueAny() noexcept : value_(Traits::Invalid()) {}
    explicit TUniqueAny(T value) noexcept : value_(value) {}
    ~TUniqueAny() { Reset(); }

    TUniqueAny(const TUniqueAny&) = delete;
    TUniqueAny& operator=(const TUniqueAny&) = delete;
    TUniqueAny(TUniqueAny&& other) noexcept : value_(other.Release()) {}
    TUniqueAny& operator=(TUniqueAny&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    T Get() const noexcept { return value_; }
    bool Valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives up ownership without closing.
    T Release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    // Closes the held value (if any) and takes the new one.
    void Reset(T value = Traits::Invalid()) noexcept
    {
        T old = std::exchange(value_, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // For out-parameters: closes what is held and returns the slot.
    T* Put() noexcept
    {
        Reset();
        return &value_;
    }

private:
    T value_;
};

namespace ZoWinTraits {
struct Handle {  // processes, threads, events, pipes, snapshots, files: null means none
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FileHandle {  // CreateFileW reports failure as INVALID_HANDLE_VALUE
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandle {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
struct HKey {
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY k) { ::RegCloseKey(k); }
};
struct Module {
    static HMODULE Invalid() { return nullptr; }
    static void Close(HMODULE m) { ::FreeLibrary(m); }
};
template <typename G>
struct GdiObject {
    static G Invalid() { return nullptr; }
    static void Close(G g) { ::DeleteObject(g); }
};
struct MemoryDC {
    static HDC Invalid() { return nullptr; }
    static void Close(HDC dc) { ::DeleteDC(dc); }
};
struct Icon {
    static HICON Invalid() { return nullptr; }
    static void Close(HICON i) { ::DestroyIcon(i); }
};
struct Window {
    static HWND Invalid() { return nullptr; }
    static void Close(HWND w) { ::DestroyWindow(w); }
};
struct CoTaskMem {
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { ::CoTaskMemFree(p); }
};
struct LocalMemory {  // what the system allocated with LocalAlloc for us
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { ::LocalFree(p); }
};
struct Socket {
    static SOCKET Invalid() { return INVALID_SOCKET; }
    static void Close(SOCKET s) { ::closesocket(s); }
};
struct CertContext {
    static PCCERT_CONTEXT Invalid() { return nullptr; }
    static void Close(PCCERT_CONTEXT c) { ::CertFreeCertificateContext(c); }
};
struct CertStore {
    static HCERTSTORE Invalid() { return nullptr; }
    static void Close(HCERTSTORE s) { ::CertCloseStore(s, 0); }
};
struct CertChain {
    static PCCERT_CHAIN_CONTEXT Invalid() { return nullptr; }
    static void Close(PCCERT_CHAIN_CONTEXT c) { ::CertFreeCertificateChain(c); }
};
struct Algorithm {  // a CNG algorithm provider
    static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
    static void Close(BCRYPT_ALG_HANDLE a) { ::BCryptCloseAlgorithmProvider(a, 0); }
};
struct Hash {  // a CNG hash object
    static BCRYPT_HASH_HANDLE Invalid() { return nullptr; }
    static void Close(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
};
struct LocalMem {  // what the system allocates for us with LocalAlloc (security descriptors, messages)
    static HLOCAL Invalid() { return nullptr; }
    static void Close(HLOCAL p) { ::LocalFree(p); }
};
struct MappedView {  // MapViewOfFile's result
    static const void* Invalid() { return nullptr; }
    static void Close(const void* v) { ::UnmapViewOfFile(v); }
};
struct RmSession {  // a Restart Manager session; its handle has no documented "none", so all bits set
    static DWORD Invalid() { return 0xFFFFFFFFu; }
    static void Close(DWORD s) { ::RmEndSession(s); }
};
}  // namespace ZoWinTraits

using TUniqueHandle = TUniqueAny<HANDLE, ZoWinTraits::Handle>;
using TUniqueFile = TUniqueAny<HANDLE, ZoWinTraits::FileHandle>;
using TUniqueFind = TUniqueAny<HANDLE, ZoWinTraits::FindHandle>;
using TUniqueHKey = TUniqueAny<HKEY, ZoWinTraits::HKey>;
using TUniqueModule = TUniqueAny<HMODULE, ZoWinTraits::Module>;
using TUniqueFont = TUniqueAny<HFONT, ZoWinTraits::GdiObject<HFONT>>;
using TUniqueBrush = TUniqueAny<HBRUSH, ZoWinTraits::GdiObject<HBRUSH>>;
using TUniquePen = TUniqueAny<HPEN, ZoWinTraits::GdiObject<HPEN>>;
using TUniqueBitmap = TUniqueAny<HBITMAP, ZoWinTraits::GdiObject<HBITMAP>>;
using TUniqueRegion = TUniqueAny<HRGN, ZoWinTraits::GdiObject<HRGN>>;
using TUniqueMemoryDC = TUniqueAny<HDC, ZoWinTraits::MemoryDC>;
using TUniqueIcon = TUniqueAny<HICON, ZoWinTraits::Icon>;
using TUniqueWindow = TUniqueAny<HWND, ZoWinTraits::Window>;
using TUniqueCoTaskMem = TUniqueAny<void*, ZoWinTraits::CoTaskMem>;
using TUniqueSocket = TUniqueAny<SOCKET, ZoWinTraits::Socket>;
using TUniqueLocal = TUniqueAny<void*, ZoWinTraits::LocalMemory>;
using TUniqueCertContext = TUniqueAny<PCCERT_CONTEXT, ZoWinTraits::CertContext>;
using TUniqueCertStore = TUniqueAny<HCERTSTORE, ZoWinTraits::CertStore>;
using TUniqueCertChain = TUniqueAny<PCCERT_CHAIN_CONTEXT, ZoWinTraits::CertChain>;
using TUniqueRmSession = TUniqueAny<DWORD, ZoWinTraits::RmSession>;
using TUniqueAlgorithm = TUniqueAny<BCRYPT_ALG_HANDLE, ZoWinTraits::Algorithm>;
using TUniqueHash = TUniqueAny<BCRYPT_HASH_HANDLE, ZoWinTraits::Hash>;
using TUniqueLocalMem = TUniqueAny<HLOCAL, ZoWinTraits::LocalMem>;
using TUniqueView = TUniqueAny<const void*, ZoWinTraits::MappedView>;

// A device context borrowed from a window with GetDC; given back with ReleaseDC.
class TWindowDC {
public:
    explicit TWindowDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~TWindowDC()
    {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects a GDI object into a DC for one scope and puts the previous one back.
class TSelectObject {
public:
    TSelectObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~TSelectObject()
    {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// BeginPaint/EndPaint for one WM_PAINT.
class TPaintScope {
public:
    explicit TPaintScope(HWND window) noexcept : window_(window) { dc_ = ::BeginPaint(window, &ps_); }
    ~TPaintScope() { ::EndPaint(window_, &ps_); }
    TPaintScope(const TPaintScope&) = delete;
    TPaintScope& operator=(const TPaintScope&) = delete;
    HDC DC() const noexcept { return dc_; }
    const RECT& Area() const noexcept { return ps_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT ps_{};
    HDC dc_ = nullptr;
};

// A COM interface pointer: Release on destruction, AddRef on nothing (moves only).
template <typename I>
class TComPtr {
public:
    TComPtr() noexcept = default;
    explicit TComPtr(I* p) noexcept : p_(p) {}  // takes over a reference
    ~TComPtr() { Reset(); }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    TComPtr(TComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    TComPtr& operator=(TComPtr&& o) noexcept
    {
        if (this != &o) {
            Reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }

    I* Get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void Reset() noexcept
    {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    I** Put() noexcept
    {
        Reset();
        return &p_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    // QueryInterface into another owner; empty on failure.
    template <typename J>
    TComPtr<J> As(REFIID iid) const
    {
        TComPtr<J> out;
        if (p_) p_->QueryInterface(iid, out.PutVoid());
        return out;
    }

private:
    I* p_ = nullptr;
};

// COM for the current thread in the single-threaded apartment, for one scope.
class TComApartment {
public:
    TComApartment() noexcept : ok_(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~TComApartment()
    {
        if (ok_) ::CoUninitialize();
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    bool Ok() const noexcept { return ok_; }

private:
    bool ok_;
};
