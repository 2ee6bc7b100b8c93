// A namespace of the MOF reader. Each class keeps the list of its own
// instances and its subclasses, so that a query walks only the classes it
// asks for: a namespace of many classes costs a query no more than the
// instances it returns.
#include "posix/wbem/mof_namespace.h"

#include <algorithm>
#include <utility>

#include "posix/wbem/names.h"
#include "posix/wbem/wbemcli.h"

namespace posix_wmi {

struct MofNamespace::Record {
  std::unique_ptr<ClassDef> def;  // its address stays while the provider does
  Record* parent = nullptr;
  std::vector<Record*> children;
  std::vector<PropertyDef> own;  // as declared, overrides included
  std::vector<std::optional<CimValue>> ownDefaults;
  std::vector<CimValue> defaults;                 // parallel to properties
  std::unordered_map<std::string, size_t> index;  // lower-case name
  std::unordered_set<std::string> guessedTypes;   // lower-case names
  std::vector<std::pair<uint64_t, std::shared_ptr<Instance>>> listed;
  std::vector<std::shared_ptr<Instance>> embedded;
  bool open = false;
  bool deleted = false;
};

namespace {

bool SameType(const PropertyDef& a, const PropertyDef& b) {
  return a.type == b.type && a.isArray == b.isArray;
}

// Every record below `top`, `top` first, parents before their children.
template <class Record>
std::vector<Record*> Subtree(Record* top) {
  std::vector<Record*> out{top};
  for (size_t i = 0; i < out.size(); ++i)
    for (Record* child : out[i]->children) out.push_back(child);
  return out;
}

}  // namespace

MofNamespace::MofNamespace() = default;
MofNamespace::~MofNamespace() = default;

MofNamespace::Record* MofNamespace::RecordOf(const ClassDef& cls) const {
  auto it = byDef_.find(&cls);
  return it == byDef_.end() ? nullptr : it->second;
}

const ClassDef* MofNamespace::FindClass(std::string_view name) const {
  auto it = byName_.find(LowerName(name));
  return it == byName_.end() ? nullptr : it->second->def.get();
}

// A query for a superclass returns its subclasses' instances too, as WMI's
// does, in the order they were read.
HRESULT MofNamespace::Instances(
    const ClassDef& cls, const Selection&,
    std::vector<std::shared_ptr<const Instance>>& out) {
  out.clear();
  Record* top = RecordOf(cls);
  if (!top || top->deleted) return S_OK;
  std::vector<std::pair<uint64_t, std::shared_ptr<Instance>>> found;
  for (Record* rec : Subtree(top))
    found.insert(found.end(), rec->listed.begin(), rec->listed.end());
  if (!top->children.empty())
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
  out.reserve(found.size());
  for (auto& entry : found) out.push_back(std::move(entry.second));
  return S_OK;
}

MofNamespace::Record* MofNamespace::NewRecord(std::string_view name) {
  auto rec = std::make_unique<Record>();
  rec->def = std::make_unique<ClassDef>();
  rec->def->name = name;
  Record* p = rec.get();
  records_.push_back(std::move(rec));
  byName_[LowerName(name)] = p;
  byDef_[p->def.get()] = p;
  return p;
}

const ClassDef* MofNamespace::DeclareOpen(std::string_view name) {
  Record* rec = NewRecord(name);
  rec->open = true;
  return rec->def.get();
}

bool MofNamespace::IsOpen(const ClassDef& cls) const {
  Record* rec = RecordOf(cls);
  return rec && rec->open;
}

// The properties of a class: its parent's, each override in its parent's
// place, then its own new ones in declaration order. Returns the index into
// rec->own of a property declared twice, or npos.
size_t MofNamespace::Build(Record* rec) {
  ClassDef& def = *rec->def;
  def.superclass = rec->parent ? rec->parent->def->name : std::string();
  def.properties =
      rec->parent ? rec->parent->def->properties : std::vector<PropertyDef>();
  rec->defaults = rec->parent ? rec->parent->defaults : std::vector<CimValue>();
  rec->index = rec->parent ? rec->parent->index
                           : std::unordered_map<std::string, size_t>();
  rec->index.reserve(rec->index.size() + rec->own.size());
  std::vector<bool> declared(def.properties.size() + rec->own.size());
  size_t duplicate = npos;
  for (size_t k = 0; k < rec->own.size(); ++k) {
    const PropertyDef& p = rec->own[k];
    auto [it, added] =
        rec->index.emplace(LowerName(p.name), def.properties.size());
    if (declared[it->second] && duplicate == npos) duplicate = k;
    declared[it->second] = true;
    if (added) {
      def.properties.push_back(p);
      rec->defaults.emplace_back();
    } else {
      // Key is a qualifier subclasses cannot take away.
      bool key = def.properties[it->second].key || p.key;
      def.properties[it->second] = p;
      def.properties[it->second].key = key;
    }
    if (rec->ownDefaults[k]) rec->defaults[it->second] = *rec->ownDefaults[k];
  }
  return duplicate;
}

// Rebuilds `top` and every class below it, and moves their instances'
// values to the new places of their properties.
bool MofNamespace::Rebuild(Record* top, std::string& error, size_t* duplicate) {
  for (Record* rec : Subtree(top)) {
    std::vector<PropertyDef> old = std::move(rec->def->properties);
    size_t twice = Build(rec);
    if (twice != npos) {
      error = "property " + rec->own[twice].name +
              " is already declared in class " + rec->def->name;
      if (duplicate) *duplicate = twice;
      return false;
    }
    auto move = [&](Instance& inst) {
      std::vector<CimValue> values = rec->defaults;
      std::vector<std::optional<HRESULT>> fails;
      if (!inst.failPropertyNext.empty()) fails.resize(values.size());
      for (size_t i = 0; i < old.size() && i < inst.values.size(); ++i) {
        auto it = rec->index.find(LowerName(old[i].name));
        if (it == rec->index.end()) continue;
        const PropertyDef& now = rec->def->properties[it->second];
        if (!SameType(old[i], now) && !inst.values[i].isNull) {
          error = "property " + now.name + " of class " + rec->def->name +
                  " would change its type while an instance holds a value";
          return false;
        }
        values[it->second] = std::move(inst.values[i]);
        if (i < inst.failPropertyNext.size())
          fails[it->second] = inst.failPropertyNext[i];
      }
      inst.values = std::move(values);
      inst.failPropertyNext = std::move(fails);
      return true;
    };
    for (const auto& entry : rec->listed)
      if (!move(*entry.second)) return false;
    for (const auto& inst : rec->embedded)
      if (!move(*inst)) return false;
  }
  return true;
}

const ClassDef* MofNamespace::Declare(Declaration decl, std::string& error,
                                      size_t* duplicate) {
  auto it = byName_.find(LowerName(decl.name));
  Record* rec = it == byName_.end() ? NewRecord(decl.name) : it->second;
  Record* parent = nullptr;
  if (!decl.superclass.empty()) {
    const ClassDef* super = FindClass(decl.superclass);
    parent = super ? RecordOf(*super) : RecordOf(*DeclareOpen(decl.superclass));
    // Only a class with subclasses can be its own ancestor; looking up from
    // every new class would make a long chain of classes cost its square.
    bool mayLoop = parent == rec || !rec->children.empty();
    for (Record* up = parent; mayLoop && up; up = up->parent) {
      if (up == rec) {
        error = "class " + decl.name + " would derive from itself";
        return nullptr;
      }
    }
  }
  if (rec->parent != parent) {
    if (rec->parent) {
      auto& siblings = rec->parent->children;
      siblings.erase(std::find(siblings.begin(), siblings.end(), rec));
    }
    if (parent) parent->children.push_back(rec);
    rec->parent = parent;
  }
  rec->def->name = decl.name;
  rec->own = std::move(decl.properties);
  rec->ownDefaults = std::move(decl.defaults);
  rec->open = false;
  rec->guessedTypes.clear();
  if (!Rebuild(rec, error, duplicate)) return nullptr;
  return rec->def.get();
}

size_t MofNamespace::AddOpenProperty(const ClassDef& cls, PropertyDef prop,
                                     bool typeKnown) {
  Record* rec = RecordOf(cls);
  std::string lower = LowerName(prop.name);
  if (!typeKnown) rec->guessedTypes.insert(lower);
  rec->own.push_back(prop);
  rec->ownDefaults.emplace_back();
  // Without subclasses the new property simply goes last; instances get
  // their NULL for it in Complete, so that adding stays constant time.
  if (rec->children.empty()) {
    size_t index = rec->def->properties.size();
    rec->index.emplace(std::move(lower), index);
    rec->def->properties.push_back(std::move(prop));
    rec->defaults.emplace_back();
    return index;
  }
  std::string ignored;  // only type changes fail, and this is none
  Rebuild(rec, ignored, nullptr);
  return PropertyIndex(cls, prop.name);
}

bool MofNamespace::TypeKnown(const ClassDef& cls, size_t index) const {
  Record* rec = RecordOf(cls);
  return !rec->guessedTypes.count(LowerName(cls.properties[index].name));
}

void MofNamespace::SetType(const ClassDef& cls, size_t index, CimType type,
                           bool isArray) {
  Record* rec = RecordOf(cls);
  std::string lower = LowerName(cls.properties[index].name);
  rec->guessedTypes.erase(lower);
  for (PropertyDef& p : rec->own) {
    if (LowerName(p.name) == lower) p.type = type, p.isArray = isArray;
  }
  rec->def->properties[index].type = type;
  rec->def->properties[index].isArray = isArray;
  // Only NULL values exist yet, so no instance can refuse the change.
  if (!rec->children.empty()) {
    std::string ignored;
    Rebuild(rec, ignored, nullptr);
  }
}

size_t MofNamespace::PropertyIndex(const ClassDef& cls,
                                   std::string_view name) const {
  Record* rec = RecordOf(cls);
  if (!rec) return npos;
  auto it = rec->index.find(LowerName(name));
  return it == rec->index.end() ? npos : it->second;
}

const std::vector<CimValue>& MofNamespace::Defaults(const ClassDef& cls) const {
  return RecordOf(cls)->defaults;
}

void MofNamespace::AddInstance(std::shared_ptr<Instance> inst, bool listed) {
  Record* rec = RecordOf(*inst->cls);
  if (listed)
    rec->listed.emplace_back(nextSeq_++, std::move(inst));
  else
    rec->embedded.push_back(std::move(inst));
}

bool MofNamespace::DeleteClass(std::string_view name) {
  const ClassDef* cls = FindClass(name);
  if (!cls) return false;
  Record* top = RecordOf(*cls);
  if (top->parent) {
    auto& siblings = top->parent->children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), top));
    top->parent = nullptr;
  }
  for (Record* rec : Subtree(top)) {
    rec->deleted = true;
    rec->listed.clear();
    byName_.erase(LowerName(rec->def->name));
  }
  return true;
}

size_t MofNamespace::DeleteInstances(const ClassDef& cls,
                                     const ParsedPath& named) {
  Record* top = RecordOf(cls);
  std::string path = CanonicalPath(cls, named);
  size_t removed = 0;
  for (Record* rec : Subtree(top)) {
    auto& list = rec->listed;
    size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const auto& entry) {
                                return CanonicalPathOf(*entry.second) == path;
                              }),
               list.end());
    removed += before - list.size();
  }
  return removed;
}

void MofNamespace::Complete() {
  for (const auto& rec : records_) {
    size_t n = rec->def->properties.size();
    auto pad = [n](Instance& inst) {
      inst.values.resize(n);
      if (!inst.failPropertyNext.empty()) inst.failPropertyNext.resize(n);
    };
    for (const auto& entry : rec->listed) pad(*entry.second);
    for (const auto& inst : rec->embedded) pad(*inst);
  }
}

}  // namespace posix_wmi
