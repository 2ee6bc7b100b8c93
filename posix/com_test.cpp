// The stand-in's BSTR, SAFEARRAY and VARIANT: layout as on Windows, and the
// live counts that the leak tests rely on.
#include "posix/com.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Counted : IUnknown {
  int refs = 1;
  Counted() { PosixObjectCreated(); }
  ~Counted() override { PosixObjectDestroyed(); }
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    int left = --refs;
    if (left == 0) delete this;
    return left;
  }
};

TEST(Bstr, HasByteLengthPrefixAndTerminator) {
  long before = PosixLiveStrings();
  BSTR s = SysAllocStringLen(u"ab\0c", 4);
  ASSERT_NE(s, nullptr);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 8u);
  EXPECT_EQ(SysStringLen(s), 4u);
  EXPECT_EQ(s[4], 0);
  EXPECT_EQ(PosixLiveStrings(), before + 1);
  SysFreeString(s);
  EXPECT_EQ(PosixLiveStrings(), before);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Variant, ClearReleasesWhatItHolds) {
  long strings = PosixLiveStrings(), arrays = PosixLiveArrays(),
       objects = PosixLiveObjects();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"x");
  VariantClear(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);

  v.vt = VT_UNKNOWN;
  v.punkVal = new Counted;
  EXPECT_EQ(PosixLiveObjects(), objects + 1);
  VariantClear(&v);

  SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(a, nullptr);
  static_cast<BSTR*>(a->pvData)[0] = SysAllocString(u"a");
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = a;
  VariantClear(&v);

  SAFEARRAY* u = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
  static_cast<IUnknown**>(u->pvData)[0] = new Counted;
  SafeArrayDestroy(u);

  EXPECT_EQ(PosixLiveStrings(), strings);
  EXPECT_EQ(PosixLiveArrays(), arrays);
  EXPECT_EQ(PosixLiveObjects(), objects);
}

}  // namespace
