// The MOF repository of the stand-in WMI service: reads the classes and
// instances of MOF files, the way the WMI MOF compiler reads them, into one
// Provider per namespace, together with the failures the files ask the
// platform to inject. Works on a byte buffer so that it can be driven by a
// fuzzer. Never compiled on Windows.
//
// What is read (keywords, pragma, qualifier and class names are matched
// without regard to case; text is UTF-8 with or without a BOM, UTF-16 with
// a BOM, or, not being UTF-8, Windows-1252):
//   // line and /* block */ comments
//   #pragma namespace("\\\\.\\root\\wmi")   absolute ("\\\\server\\...",
//       "\\...", "root\\..."; '/' for '\') or relative to the current one;
//       classes and instances go into that namespace. Each file starts in
//       root\cimv2.
//   #pragma include("file")   read in place, named relative to the file
//       that includes it; a cycle or a file that cannot be read is refused
//       at the pragma
//   #pragma classflags("createonly"|"updateonly"|"safeupdate"|"forceupdate")
//   #pragma deleteclass("Class", FAIL|NOFAIL), #pragma deleteinstance(
//       "Class.Key=\"value\"", FAIL|NOFAIL)
//   #pragma locale, instancelocale, amendment, instanceflags ("...") and
//       autorecover: read and without effect here
//   #pragma fail("Operation", code)   Operation: OleInitialize,
//       CoInitializeSecurity, CoCreateInstance, ConnectServer or ExecQuery;
//       code: a failure code (0x80000000 and above); the last one counts
//   Qualifier Name : type [= value] [, Scope(...)] [, Flavor(...)];
//       checked, then dropped
//   [qualifiers] class Name [: Super] {
//     [qualifiers] type Name [ [] or [n] ] [= default];   type: sint8 ..
//         uint64, real32, real64, boolean, string, datetime, char16,
//         object, a class name (an embedded object), "object ref" or
//         "ClassName ref"; [EmbeddedInstance("X")] string is an object
//     [qualifiers] type Name([qualifiers] type Param [[]] [= v], ...);
//         a method: checked, never a property
//   };
//     A property of the superclass declared again is overridden in place. A
//     class declared again is updated: its subclasses and instances follow.
//     A superclass that is not declared is taken as a class without
//     properties; WMI's system classes (__Provider, __Win32Provider, the
//     registrations, __Namespace, __EventFilter, __EventConsumer, ...) are
//     declared in every namespace.
//   [qualifiers] instance of Class [as $Alias] { [qualifiers] Prop = value;
//       ... };   an instance of __Namespace makes that namespace
//     An instance of a class that is not declared makes the class: each
//     property takes the type its first value that is not NULL has as WMI
//     writes it (text a string, a whole number a sint32, or uint32, sint64,
//     uint64 when it does not fit, a real a real64, TRUE/FALSE a boolean,
//     'c' a char16, {...} an array of its first element's type, an alias a
//     reference, "instance of" an object), in the order first written.
// Values: integers (decimal, 0x hex, 0 octal, 101b binary, leading '-' or
// '+'; for sint64 and uint64 also as a string, "4581445632"), reals (1.5,
// .5, -2.25e3; only for real properties), strings with \\ \" \' \n \t \r \b
// \f \xHHHH escapes (adjacent strings are joined; a whole number is taken
// as its text), 'c' or an integer for char16, TRUE, FALSE, NULL, arrays
// { v, v } (a NULL element is the type's zero), "instance of Class { ... }"
// for objects, and $Alias: the instance itself for an object property
// (declared before), its object path ("Class.Key=\"value\"", keys in name
// order; "Class=@" without keys) for a reference or string property, even
// when declared later in the file.
// Qualifiers are "Name", "Name(value)" or "Name{values}", optionally
// followed by ": flavors"; the reader acts on Key, EmbeddedInstance,
// EmbeddedObject and these, which take a 32-bit code:
//   FailNext(code) on an instance: the enumerator's Next fails there;
//   FailBeginEnumeration(code) on an instance: BeginEnumeration fails;
//   FailNext(code) on a property value: the property walk's Next fails there.
// An instance's unset properties take the class default, or NULL.
#pragma once

#include <map>
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

// What the files read: every namespace they named or made, each the
// Provider the service answers it from, and the failures they inject.
struct MofRepository {
  std::unique_ptr<Provider> provider;  // root\cimv2
  // Every other namespace the files named or made, by path in lower case
  // with '\' between its parts ("root\wmi").
  std::map<std::string, std::unique_ptr<Provider>> namespaces;
  InjectedFailures failures;
};

// Reads a MOF text; files it includes are named relative to `fileName`. On
// success fills `out` and returns true. Otherwise leaves `out` empty
// (nothing injected) and sets `error` to "<file>:<line>:<column>: <what
// was expected or wrong>", <file> the one that holds the fault; lines and
// columns count from 1, columns in characters.
bool ParseMof(std::string_view bytes, std::string_view fileName,
              MofRepository& out, std::string& error);

// Reads the files named in `paths`, separated by ':', in order into one
// repository, as if compiled one after the other. Returns S_OK;
// WBEM_E_INVALID_SYNTAX when ParseMof would refuse one; WBEM_E_INVALID_
// NAMESPACE when one cannot be read or is no regular file, or all of them
// together (included files counted) hold more than 256 MiB ("<path>:
// <reason>" in `error`); WBEM_E_OUT_OF_MEMORY when memory runs out.
HRESULT LoadMofFiles(const std::string& paths, MofRepository& out,
                     std::string& error);

}  // namespace posix_wmi
