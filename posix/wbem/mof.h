// The MOF repository of the stand-in WMI service: reads the classes and
// instances of a MOF file into a Provider, together with the failures the
// file asks the platform to inject. Works on a byte buffer so that it can be
// driven by a fuzzer. Never compiled on Windows.
//
// The accepted subset (keywords and names are matched without regard to
// case; text is UTF-8 with an optional BOM, or UTF-16 with a BOM):
//   // line and /* block */ comments
//   #pragma namespace("root\\cimv2")        (also "\\\\.\\root\\cimv2")
//   #pragma fail("Operation", code)          Operation: OleInitialize,
//       CoInitializeSecurity, CoCreateInstance, ConnectServer or ExecQuery;
//       code: any 32-bit value; the last one for an operation counts
//   [qualifiers] class Name [: Super] {
//     [qualifiers] type Name [ [] ] [= default];   type: sint8 .. uint64,
//         real32, real64, boolean, string, datetime, char16, object
//     [qualifiers] ClassName ref Name [ [] ];
//   };
//   [qualifiers] instance of Class { [qualifiers] Prop = value; ... };
// Values: integers (decimal, 0x hex, leading '-'), reals (1.5, -2.25e3),
// strings with \\ \" \' \n \t \r \b \f \xHHHH escapes (adjacent strings are
// joined), 'c' or an integer for char16, TRUE, FALSE, NULL, arrays { v, v },
// and "instance of Class { ... }" for object properties.
// Qualifiers are "Name", "Name(value)" or "Name{values}", optionally followed
// by ": flavors"; they are ignored except these, which take a 32-bit code:
//   FailNext(code) on an instance: the enumerator's Next fails there;
//   FailBeginEnumeration(code) on an instance: BeginEnumeration fails;
//   FailNext(code) on a property value: the property walk's Next fails there.
// A class property may not be declared twice in one class chain; an
// instance's unset properties take the class default, or NULL.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "posix/com.h"
#include "posix/wbem/provider.h"

namespace posix_wmi {

// What `#pragma fail` injected, per platform operation.
struct InjectedFailures {
  std::optional<HRESULT> oleInitialize;
  std::optional<HRESULT> coInitializeSecurity;
  std::optional<HRESULT> coCreateInstance;
  std::optional<HRESULT> connectServer;
  std::optional<HRESULT> execQuery;
};

struct MofRepository {
  std::unique_ptr<Provider> provider;
  InjectedFailures failures;
};

// Reads a MOF text. On success fills `out` and returns true. Otherwise
// leaves `out` empty (nothing injected) and sets `error` to
// "<fileName>:<line>:<column>: <what was expected or wrong>"; lines and
// columns count from 1, columns in characters.
bool ParseMof(std::string_view bytes, std::string_view fileName,
              MofRepository& out, std::string& error);

// Reads and parses the file at `path`. Returns S_OK, WBEM_E_INVALID_SYNTAX
// when ParseMof refuses it, or WBEM_E_INVALID_NAMESPACE when the file cannot
// be read ("<path>: <system's reason>" in `error`).
HRESULT LoadMofFile(const std::string& path, MofRepository& out,
                    std::string& error);

}  // namespace posix_wmi
