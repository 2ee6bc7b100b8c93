// Owners of what COM hands out: each holds one BSTR, VARIANT or interface
// pointer and gives it back when it goes out of scope, so that a routine
// writes its clean-up once however it leaves. The member is public because
// COM fills it through its address (&owner.p).
#pragma once

#include "wmi/platform.h"

struct Bstr {
  BSTR p = nullptr;
  Bstr() = default;
  explicit Bstr(BSTR text) : p(text) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(p); }
};

struct Variant {
  VARIANT v;
  Variant() { VariantInit(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v); }
};

template <class T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p) p->Release();
  }
};
