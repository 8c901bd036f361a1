// Small owners for Windows resources: each releases its resource exactly once,
// on every path. Copying is deleted, moving hands the resource over.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <utility>

// A handle-like value with a release function; Empty() names the value(s) that own nothing.
template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  ~UniqueResource() { Reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  T Get() const { return value_; }
  bool Valid() const { return !Traits::IsEmpty(value_); }
  explicit operator bool() const { return Valid(); }
  // For out-parameters: releases the current value and hands out its storage.
  T* Receive() {
    Reset();
    return &value_;
  }
  T Release() { return std::exchange(value_, Traits::Empty()); }
  void Reset(T value = Traits::Empty()) {
    if (!Traits::IsEmpty(value_)) Traits::Free(value_);
    value_ = value;
  }

 private:
  T value_ = Traits::Empty();
};

struct HandleTraits {
  static HANDLE Empty() { return nullptr; }
  // CreateFile reports failure with INVALID_HANDLE_VALUE, most other calls with NULL.
  static bool IsEmpty(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;

// A FindFirstFile search.
struct FindTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsEmpty(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) { FindClose(h); }
};
using UniqueFind = UniqueResource<HANDLE, FindTraits>;

struct KeyTraits {
  static HKEY Empty() { return nullptr; }
  static bool IsEmpty(HKEY k) { return k == nullptr; }
  static void Free(HKEY k) { RegCloseKey(k); }
};
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

struct SidTraits {
  static PSID Empty() { return nullptr; }
  static bool IsEmpty(PSID s) { return s == nullptr; }
  static void Free(PSID s) { FreeSid(s); }
};
using UniqueSid = UniqueResource<PSID, SidTraits>;

// Memory the system allocated with LocalAlloc (ACLs, security descriptors).
struct LocalTraits {
  static HLOCAL Empty() { return nullptr; }
  static bool IsEmpty(HLOCAL p) { return p == nullptr; }
  static void Free(HLOCAL p) { LocalFree(p); }
};
using UniqueLocal = UniqueResource<HLOCAL, LocalTraits>;

// A module loaded with LoadLibrary(Ex), also as a data file.
struct ModuleTraits {
  static HMODULE Empty() { return nullptr; }
  static bool IsEmpty(HMODULE m) { return m == nullptr; }
  static void Free(HMODULE m) { FreeLibrary(m); }
};
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;

// A COM interface pointer, released once.
template <typename I>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  I* Get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  I** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }

 private:
  I* p_ = nullptr;
};

// Pairs a successful CoInitialize(Ex) with CoUninitialize.
class ComApartment {
 public:
  explicit ComApartment(HRESULT result) : result_(result) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};
