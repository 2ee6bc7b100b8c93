// The capture of WMI classes as MOF: class objects for the declarations, a
// "SELECT *" query for the instances, the property walk for their values.
// Everything obtained from WMI is released here, on every path.
#include "capture/capture.h"

#include <unordered_set>
#include <utility>

#include "capture/mof_text.h"
#include "capture/redact.h"
#include "wmi/codepage.h"
#include "wmi/owners.h"
#include "wmi/status.h"

struct CapturedProperty {
  std::string name;  // UTF-8, as WMI spells it
  CIMTYPE type = CIM_STRING;
  bool key = false;
  std::string boundClass;  // of a reference or an embedded object, if named
  // A datetime property with a value that is no CIM datetime, declared as a
  // string so that a reader takes the value as it is.
  bool datetimeAsString = false;
};

struct CapturedClass {
  std::string name;  // UTF-8, as WMI spells it
  std::vector<CapturedProperty> properties;
  bool requested = false;  // added by AddClass: `instances` holds its own
  std::string instances;
  // Why the declaration was not read from a class object, for a comment.
  std::string note;
  uint64_t savedIn = 0;  // the AddClass that saved `properties` last
};

namespace {

// Embedded objects nested deeper than the MOF reader takes are refused.
constexpr int kMaxDepth = 32;
// The most text the MOF reader takes; an object reached along many paths
// (a value embedding another twice, that one the next twice, ...) would
// otherwise be written once for each path until memory runs out.
constexpr size_t kMaxTextBytes = size_t{256} << 20;

std::string LowerName(const std::string& name) {
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Utf8Of(BSTR text) {
  return WideToUtf8(text, text ? SysStringLen(text) : 0);
}

void Indent(std::string& out, int depth) {
  out.append(4 * static_cast<size_t>(depth), ' ');
}

// The class a CIMTYPE qualifier ("ref:Class", "object:Class") binds to.
std::string BoundClassOf(const VARIANT& cimtype) {
  if (cimtype.vt != VT_BSTR || !cimtype.bstrVal) return {};
  std::string text = Utf8Of(cimtype.bstrVal);
  size_t colon = text.find(':');
  return colon == std::string::npos ? std::string() : text.substr(colon + 1);
}

// The index of a property in the class's list; the list's size if absent.
size_t FindProperty(const CapturedClass& cls, const std::string& name) {
  size_t i = 0;
  while (i < cls.properties.size() && !SameName(cls.properties[i].name, name))
    ++i;
  return i;
}

bool IsMalformedDatetime(const VARIANT& v) {
  return v.vt == VT_BSTR &&
         !IsCimDatetime(v.bstrVal, v.bstrVal ? SysStringLen(v.bstrVal) : 0);
}

// Whether a datetime value (or an element of a datetime array) is no CIM
// datetime, as some WMI providers hand out.
bool HoldsMalformedDatetime(const VARIANT& value) {
  if (value.vt == (VT_ARRAY | VT_BSTR) && value.parray) {
    ULONG count =
        value.parray->cDims == 1 ? value.parray->rgsabound[0].cElements : 0;
    for (ULONG k = 0; k < count; ++k) {
      VARIANT element;
      if (BorrowElement(value.parray, VT_BSTR, k, &element) &&
          IsMalformedDatetime(element))
        return true;
    }
    return false;
  }
  return IsMalformedDatetime(value);
}

// Puts the properties at `walked` (indices, in walk order) first, in that
// order, and the others after them as they were. Nothing moves in the usual
// case, a walk in declaration order.
void FollowWalk(CapturedClass& cls, const std::vector<size_t>& walked) {
  bool ordered = true;
  for (size_t k = 0; k < walked.size(); ++k)
    ordered = ordered && walked[k] == k;
  if (ordered) return;
  std::vector<bool> taken(cls.properties.size());
  std::vector<CapturedProperty> properties;
  for (size_t index : walked) {
    if (taken[index]) continue;
    taken[index] = true;
    properties.push_back(std::move(cls.properties[index]));
  }
  for (size_t i = 0; i < taken.size(); ++i)
    if (!taken[i]) properties.push_back(std::move(cls.properties[i]));
  cls.properties = std::move(properties);
}

void AppendDeclaration(std::string& out, const CapturedClass& cls) {
  if (!cls.note.empty()) out += "// " + cls.note + "\n";
  out += "class " + cls.name + "\n{\n";
  for (const CapturedProperty& p : cls.properties) {
    Indent(out, 1);
    if (p.key) out += "[key] ";
    if ((p.type & ~CIM_FLAG_ARRAY) == CIM_REFERENCE)
      out += (p.boundClass.empty() ? "object" : p.boundClass) + " ref";
    else
      out += p.datetimeAsString ? "string" : CimTypeKeyword(p.type);
    out += " " + p.name;
    if (p.type & CIM_FLAG_ARRAY) out += "[]";
    out += ";";
    if (p.datetimeAsString) out += "  // datetime; a value is no CIM datetime";
    out += "\n";
  }
  out += "};\n\n";
}

}  // namespace

MofCapture::MofCapture(IWbemServices* services, Redactor* redactor)
    : services_(services), redactor_(redactor) {}
MofCapture::~MofCapture() = default;

CapturedClass* MofCapture::Find(const std::string& name) const {
  auto it = byName_.find(LowerName(name));
  return it == byName_.end() ? nullptr : it->second;
}

CapturedClass* MofCapture::NewClass(const std::string& name) {
  classes_.push_back(std::make_unique<CapturedClass>());
  classes_.back()->name = name;
  byName_[LowerName(name)] = classes_.back().get();
  return classes_.back().get();
}

// Keeps what a failing AddClass must restore of a class it changes, once.
void MofCapture::Save(CapturedClass& cls) {
  if (cls.savedIn == adding_) return;
  cls.savedIn = adding_;
  saved_.emplace_back(&cls, cls.properties);
}

// Merges the properties of a class object's walk into `cls`: types, the
// Key qualifier and the class a reference or an embedded object is bound
// to. A qualifier that cannot be read is taken as absent.
HRESULT MofCapture::ReadDefinition(IWbemClassObject* object,
                                   CapturedClass& cls) {
  Save(cls);
  HRESULT hr = object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
  if (FAILED(hr)) return hr;
  for (;;) {
    Bstr name;
    CIMTYPE type = 0;
    hr = object->Next(0, &name.p, nullptr, &type, nullptr);
    if (hr != WBEM_S_NO_ERROR) break;
    CIMTYPE base = type & ~CIM_FLAG_ARRAY;
    if (!CimTypeKeyword(base) && base != CIM_REFERENCE) {
      hr = WBEM_E_TYPE_MISMATCH;
      break;
    }
    CapturedProperty property{Utf8Of(name.p), type, false, {}};
    Com<IWbemQualifierSet> qualifiers;
    if (SUCCEEDED(object->GetPropertyQualifierSet(name.p, &qualifiers.p)) &&
        qualifiers.p) {
      Variant key;
      property.key =
          qualifiers.p->Get(OLESTR("key"), 0, &key.v, nullptr) == S_OK &&
          key.v.vt == VT_BOOL && key.v.boolVal;
      Variant cimtype;
      if ((base == CIM_REFERENCE || base == CIM_OBJECT) &&
          qualifiers.p->Get(OLESTR("CIMTYPE"), 0, &cimtype.v, nullptr) == S_OK)
        property.boundClass = BoundClassOf(cimtype.v);
    }
    size_t known = FindProperty(cls, property.name);
    if (known < cls.properties.size())
      cls.properties[known] = std::move(property);
    else
      cls.properties.push_back(std::move(property));
  }
  object->EndEnumeration();
  // Another success code ends the walk short: the object is not whole.
  return hr == WBEM_S_NO_MORE_DATA ? S_OK : hr;
}

HRESULT MofCapture::AddClass(const std::string& name) {
  Bstr path(AnsiToBstr(name));
  if (!path.p) return WBEM_E_OUT_OF_MEMORY;
  Com<IWbemClassObject> definition;
  const HRESULT found =
      services_->GetObject(path.p, 0, nullptr, &definition.p, nullptr);
  // Some WMI (Wine's) answers GetObject of a class with one of its
  // instances, and so with WBEM_E_NOT_FOUND for a class that has none; the
  // query below tells whether the class exists, and a class that does is
  // declared from its instances' walks, without properties when it has no
  // instance, so that a replay answers it as the machine did.
  if (FAILED(found) && found != static_cast<HRESULT>(WBEM_E_NOT_FOUND))
    return found;
  if (SUCCEEDED(found) && !definition.p) return WBEM_E_FAILED;

  std::string spelled = name;
  Variant classProperty;
  if (definition.p &&
      SUCCEEDED(definition.p->Get(OLESTR("__CLASS"), 0, &classProperty.v,
                                  nullptr, nullptr)) &&
      classProperty.v.vt == VT_BSTR)
    spelled = Utf8Of(classProperty.v.bstrVal);
  CapturedClass* existing = Find(spelled);
  if (existing && existing->requested) return S_OK;  // asked for twice

  // What a failure must restore: the classes met so far as they were. Only
  // the classes this call changes are saved, as it changes them.
  ++adding_;
  saved_.clear();
  size_t classCount = classes_.size();
  size_t lossCount = losses_.size();
  size_t textBytes = textBytes_;

  CapturedClass* cls = existing ? existing : NewClass(spelled);
  size_t instanceBytes = cls->instances.size();
  cls->requested = true;
  nesting_ = 0;
  tooMuchText_ = false;
  HRESULT hr = definition.p ? ReadDefinition(definition.p, *cls) : S_OK;
  if (hr == S_OK) hr = AppendInstances(*cls, spelled);
  if (hr == S_OK && !definition.p)
    cls->note = std::string("No class object (GetObject: ") +
                GetWbemStatusName(found) + "); " +
                (cls->properties.empty()
                     ? "no instance either, so no properties are known."
                     : "the properties are those of the instances.");
  if (hr == S_OK) return S_OK;
  // Without a class object, a query that fails too means no such class.
  if (!definition.p) hr = found;

  for (auto& [changed, properties] : saved_)
    changed->properties = std::move(properties);
  saved_.clear();
  cls->requested = false;
  cls->instances.resize(instanceBytes);
  for (size_t i = classCount; i < classes_.size(); ++i)
    byName_.erase(LowerName(classes_[i]->name));
  classes_.resize(classCount);
  losses_.resize(lossCount);
  textBytes_ = textBytes;
  if (tooMuchText_)
    losses_.push_back(spelled + ": more than the " +
                      std::to_string(kMaxTextBytes) +
                      " bytes of MOF text a replay reads; not captured");
  return hr;
}

HRESULT ForEachInstance(
    IWbemServices* services, const std::string& cls,
    const std::function<HRESULT(IWbemClassObject*)>& visit) {
  Bstr language(SysAllocString(OLESTR("WQL")));
  Bstr query(AnsiToBstr("SELECT * FROM " + cls));
  if (!language.p || !query.p) return WBEM_E_OUT_OF_MEMORY;
  Com<IEnumWbemClassObject> objects;
  HRESULT hr =
      services->ExecQuery(language.p, query.p,
                          WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                          nullptr, &objects.p);
  if (FAILED(hr)) return hr;
  if (!objects.p) return S_OK;
  for (;;) {
    Com<IWbemClassObject> object;
    ULONG returned = 0;
    hr = objects.p->Next(WBEM_INFINITE, 1, &object.p, &returned);
    if (FAILED(hr)) return hr;
    if (returned == 1 && object.p) {
      HRESULT visited = visit(object.p);
      if (visited != S_OK) return visited;
    }
    if (hr != WBEM_S_NO_ERROR) return S_OK;
  }
}

HRESULT MofCapture::AppendInstances(CapturedClass& cls,
                                    const std::string& queryName) {
  return ForEachInstance(services_, queryName, [&](IWbemClassObject* object) {
    std::string text = "instance of " + cls.name + "\n{\n";
    HRESULT walk = AppendObject(text, object, cls, 1);
    if (walk != S_OK) return walk;
    text += "};\n\n";
    textBytes_ += text.size();
    cls.instances += text;
    return S_OK;
  });
}

// The properties of one object as "Name = value;" lines at `depth`. A
// property that the class declaration lacks (an instance of a subclass) is
// added to it, and the declaration follows the order of the walk: a replay
// walks the properties in the order they are declared.
HRESULT MofCapture::AppendObject(std::string& out, IWbemClassObject* object,
                                 CapturedClass& cls, int depth) {
  Save(cls);
  HRESULT hr = object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
  if (FAILED(hr)) return hr;
  std::vector<size_t> walked;
  for (;;) {
    if (textBytes_ + out.size() > kMaxTextBytes) {
      tooMuchText_ = true;
      hr = WBEM_E_OUT_OF_MEMORY;
      break;
    }
    Bstr name;
    Variant value;
    CIMTYPE type = 0;
    hr = object->Next(0, &name.p, &value.v, &type, nullptr);
    if (hr != WBEM_S_NO_ERROR) break;
    std::string propertyName = Utf8Of(name.p);
    // Walks follow the declaration: look where this property should be
    // before looking everywhere.
    size_t index = walked.size();
    if (index >= cls.properties.size() ||
        !SameName(cls.properties[index].name, propertyName))
      index = FindProperty(cls, propertyName);
    if (index == cls.properties.size())
      cls.properties.push_back({propertyName, type, false, {}});
    walked.push_back(index);
    CapturedProperty* property = &cls.properties[index];
    // The declaration's type, which the reader will check the value against.
    type = property->type;
    if (redactor_) {
      hr = redactor_->Apply(cls.name, property->name, type, &value.v);
      if (hr != S_OK) break;
    }
    if ((type & ~CIM_FLAG_ARRAY) == CIM_DATETIME &&
        HoldsMalformedDatetime(value.v))
      property->datetimeAsString = true;
    Indent(out, depth);
    out += property->name + " = ";
    hr =
        AppendValue(out, value.v, type, cls.name + "." + property->name, depth);
    if (hr != S_OK) break;
    out += ";\n";
  }
  object->EndEnumeration();
  // Another success code ends the walk short: the object is not whole.
  if (hr != WBEM_S_NO_MORE_DATA) return hr;
  FollowWalk(cls, walked);
  return S_OK;
}

HRESULT MofCapture::AppendValue(std::string& out, const VARIANT& value,
                                CIMTYPE type, const std::string& where,
                                int depth) {
  if (value.vt == VT_NULL || value.vt == VT_EMPTY) {
    out += "NULL";
    return S_OK;
  }
  CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  if (type & CIM_FLAG_ARRAY) {
    if (!(value.vt & VT_ARRAY) || !value.parray) return WBEM_E_TYPE_MISMATCH;
    VARTYPE vt = static_cast<VARTYPE>(value.vt & ~VT_ARRAY);
    ULONG count =
        value.parray->cDims == 1 ? value.parray->rgsabound[0].cElements : 0;
    // Embedded objects one below the other, everything else on one line.
    bool objects = base == CIM_OBJECT && count > 0;
    int inner = objects ? depth + 1 : depth;
    out += '{';
    for (ULONG k = 0; k < count; ++k) {
      VARIANT element;
      if (!BorrowElement(value.parray, vt, k, &element))
        return WBEM_E_TYPE_MISMATCH;
      out += k > 0 ? (objects ? "," : ", ") : "";
      if (objects) {
        out += '\n';
        Indent(out, inner);
      }
      HRESULT hr = AppendValue(out, element, base, where, inner);
      if (hr != S_OK) return hr;
    }
    if (objects) {
      out += '\n';
      Indent(out, depth);
    }
    out += '}';
    return S_OK;
  }
  if (base == CIM_OBJECT) {
    if (value.vt != VT_UNKNOWN && value.vt != VT_DISPATCH)
      return WBEM_E_TYPE_MISMATCH;
    return AppendEmbedded(out, value.punkVal, depth);
  }
  HRESULT hr = AppendScalar(out, value, base);
  if (hr != S_FALSE) return hr;
  losses_.push_back(where + ": an infinity or NaN, written as NULL");
  return S_OK;
}

HRESULT MofCapture::AppendEmbedded(std::string& out, IUnknown* unknown,
                                   int depth) {
  if (!unknown) {
    out += "NULL";
    return S_OK;
  }
  // Levels of embedding, not of indentation: an array adds one of the
  // latter only.
  if (nesting_ >= kMaxDepth) return WBEM_E_FAILED;
  Com<IWbemClassObject> object;
  HRESULT hr = unknown->QueryInterface(IID_IWbemClassObject,
                                       reinterpret_cast<void**>(&object.p));
  if (FAILED(hr) || !object.p) return WBEM_E_TYPE_MISMATCH;
  CapturedClass* cls = nullptr;
  hr = EmbeddedClass(object.p, &cls);
  if (FAILED(hr)) return hr;
  out += "instance of " + cls->name + "\n";
  Indent(out, depth);
  out += "{\n";
  ++nesting_;
  hr = AppendObject(out, object.p, *cls, depth + 1);
  --nesting_;
  if (hr != S_OK) return hr;
  Indent(out, depth);
  out += "}";
  return S_OK;
}

// The declaration an embedded object's class gets: from its class object
// when WMI has one, and in any case from the walks of its objects.
HRESULT MofCapture::EmbeddedClass(IWbemClassObject* object,
                                  CapturedClass** cls) {
  Variant name;
  HRESULT hr = object->Get(OLESTR("__CLASS"), 0, &name.v, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (name.v.vt != VT_BSTR || !name.v.bstrVal) return WBEM_E_TYPE_MISMATCH;
  std::string className = Utf8Of(name.v.bstrVal);
  *cls = Find(className);
  if (*cls) return S_OK;
  *cls = NewClass(className);
  Com<IWbemClassObject> definition;
  if (SUCCEEDED(services_->GetObject(name.v.bstrVal, 0, nullptr, &definition.p,
                                     nullptr)) &&
      definition.p)
    ReadDefinition(definition.p, **cls);
  return S_OK;
}

// Declarations come first, a referenced class before the class that refers
// to it, and an empty one for a class that is referred to but not
// captured; then the instances, class by class. The walk keeps its own
// stack: a chain of references may be as long as the classes are many.
std::string MofCapture::Text() const {
  enum class Mark { kNew, kOpen, kDone };
  std::unordered_map<const CapturedClass*, Mark> marks;
  std::vector<const CapturedClass*> order;
  std::vector<std::string> missing;
  std::unordered_set<std::string> missingNames;  // lower case
  // A class and the index of the next property to follow from it.
  std::vector<std::pair<const CapturedClass*, size_t>> stack;
  for (const auto& root : classes_) {
    if (marks[root.get()] != Mark::kNew) continue;
    marks[root.get()] = Mark::kOpen;
    stack.emplace_back(root.get(), 0);
    while (!stack.empty()) {
      auto& [cls, next] = stack.back();
      if (next == cls->properties.size()) {
        marks[cls] = Mark::kDone;
        order.push_back(cls);
        stack.pop_back();
        continue;
      }
      const CapturedProperty& p = cls->properties[next++];
      if ((p.type & ~CIM_FLAG_ARRAY) != CIM_REFERENCE || p.boundClass.empty())
        continue;
      if (const CapturedClass* target = Find(p.boundClass)) {
        // An open one is a cycle: the reader must take it as is.
        if (marks[target] == Mark::kNew) {
          marks[target] = Mark::kOpen;
          stack.emplace_back(target, 0);
        }
      } else if (missingNames.insert(LowerName(p.boundClass)).second) {
        missing.push_back(p.boundClass);
      }
    }
  }

  std::string out;
  for (const std::string& name : missing)
    out += "// Referred to, not captured.\nclass " + name + "\n{\n};\n\n";
  for (const CapturedClass* cls : order) AppendDeclaration(out, *cls);
  for (const auto& cls : classes_) out += cls->instances;
  return out;
}
