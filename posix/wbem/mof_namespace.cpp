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
  std::unordered_set<std::string> guessedTypes;  // lower-case names
  // In the order read; a deleted one is null until the list is compacted.
  std::vector<std::pair<uint64_t, std::shared_ptr<Instance>>> listed;
  size_t deletedListed = 0;
  // Positions in `listed` by canonical path, of the first `indexed` ones;
  // built when a deletion asks, dropped when paths may have changed.
  std::unordered_map<std::string, std::vector<size_t>> byPath;
  size_t indexed = 0;
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

void MofNamespace::SetSystemClasses(const std::vector<Declaration>* classes) {
  system_ = classes;
}

void MofNamespace::DeclareSystemClasses() {
  const std::vector<Declaration>* classes = system_;
  system_ = nullptr;
  std::string ignored;  // the system classes are well formed
  for (const Declaration& decl : *classes) Declare(decl, ignored, nullptr);
}

const ClassDef* MofNamespace::FindClass(std::string_view name) const {
  std::string lower = LowerName(name);
  auto it = byName_.find(lower);
  if (it != byName_.end()) return it->second->def.get();
  if (!system_) return nullptr;
  for (const Declaration& decl : *system_) {
    if (LowerName(decl.name) != lower) continue;
    // The class was there all along: declaring it now changes nothing
    // that a caller could have seen.
    const_cast<MofNamespace*>(this)->DeclareSystemClasses();
    return FindClass(name);
  }
  return nullptr;
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
    for (const auto& entry : rec->listed)
      if (entry.second) found.push_back(entry);
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
  // Shared with the parent: only what this class adds or overrides costs.
  def.properties = rec->parent ? rec->parent->def->properties : PropertyList();
  rec->byPath.clear(), rec->indexed = 0;  // keys may have changed
  std::unordered_set<size_t> declared;
  size_t duplicate = npos;
  for (size_t k = 0; k < rec->own.size(); ++k) {
    const PropertyDef& p = rec->own[k];
    size_t i = def.properties.Find(p.name);
    if (i == npos) {
      declared.insert(def.properties.size());
      def.properties.push_back(p, rec->ownDefaults[k].value_or(CimValue{}));
      continue;
    }
    if (declared.count(i)) {
      if (duplicate == npos) duplicate = k;
    } else {
      // Key is a qualifier subclasses cannot take away.
      PropertyDef now = p;
      now.key = def.properties[i].key || p.key;
      def.properties.Set(i, std::move(now));
    }
    declared.insert(i);
    if (rec->ownDefaults[k]) def.properties.SetDefault(i, *rec->ownDefaults[k]);
  }
  return duplicate;
}

// Rebuilds `top` and every class below it, and moves their instances'
// values to the new places of their properties.
bool MofNamespace::Rebuild(Record* top, std::string& error, size_t* duplicate) {
  for (Record* rec : Subtree(top)) {
    PropertyList old = rec->def->properties;
    size_t twice = Build(rec);
    if (twice != npos) {
      error = "property " + rec->own[twice].name +
              " is already declared in class " + rec->def->name;
      if (duplicate) *duplicate = twice;
      return false;
    }
    const PropertyList& props = rec->def->properties;
    auto move = [&](Instance& inst) {
      std::vector<CimValue> values = props.LeadingDefaults();
      std::vector<std::optional<HRESULT>> fails;
      if (!inst.failPropertyNext.empty()) fails.resize(props.size());
      for (size_t i = 0; i < old.size() && i < inst.values.size(); ++i) {
        size_t to = props.Find(old[i].name);
        if (to == npos) continue;
        const PropertyDef& now = props[to];
        if (!SameType(old[i], now) && !inst.values[i].isNull) {
          error = "property " + now.name + " of class " + rec->def->name +
                  " would change its type while an instance holds a value";
          return false;
        }
        if (to >= values.size()) values.resize(to + 1);
        values[to] = std::move(inst.values[i]);
        if (i < inst.failPropertyNext.size())
          fails[to] = inst.failPropertyNext[i];
      }
      inst.values = std::move(values);
      inst.failPropertyNext = std::move(fails);
      return true;
    };
    for (const auto& entry : rec->listed)
      if (entry.second && !move(*entry.second)) return false;
    for (const auto& inst : rec->embedded)
      if (!move(*inst)) return false;
  }
  return true;
}

const ClassDef* MofNamespace::Declare(Declaration decl, std::string& error,
                                      size_t* duplicate) {
  const ClassDef* existing = FindClass(decl.name);
  Record* rec = existing ? RecordOf(*existing) : NewRecord(decl.name);
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
  // Without subclasses the new property simply goes last; instances read
  // NULL past their values' end, so that adding stays constant time.
  if (rec->children.empty()) {
    size_t index = rec->def->properties.size();
    rec->def->properties.push_back(std::move(prop));
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
  PropertyDef now = rec->def->properties[index];
  now.type = type, now.isArray = isArray;
  rec->def->properties.Set(index, std::move(now));
  // Only NULL values exist yet, so no instance can refuse the change.
  if (!rec->children.empty()) {
    std::string ignored;
    Rebuild(rec, ignored, nullptr);
  }
}

size_t MofNamespace::PropertyIndex(const ClassDef& cls,
                                   std::string_view name) const {
  return cls.properties.Find(name);
}

std::vector<CimValue> MofNamespace::InitialValues(const ClassDef& cls) const {
  return cls.properties.LeadingDefaults();
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
    rec->deletedListed = 0;
    rec->byPath.clear(), rec->indexed = 0;
    byName_.erase(LowerName(rec->def->name));
  }
  return true;
}

// Only instances of cls itself can match: a path names its class. The
// paths are indexed on the first deletion and kept while nothing changes
// them, so that n deletions of n instances cost n look-ups.
size_t MofNamespace::DeleteInstances(const ClassDef& cls,
                                     const ParsedPath& named) {
  Record* rec = RecordOf(cls);
  auto& list = rec->listed;
  for (; rec->indexed < list.size(); ++rec->indexed)
    if (list[rec->indexed].second)
      rec->byPath[CanonicalPathOf(*list[rec->indexed].second)].push_back(
          rec->indexed);
  auto found = rec->byPath.find(CanonicalPath(cls, named));
  if (found == rec->byPath.end()) return 0;
  size_t removed = 0;
  for (size_t at : found->second) {
    if (!list[at].second) continue;
    list[at].second.reset();
    ++removed;
  }
  rec->byPath.erase(found);
  rec->deletedListed += removed;
  if (rec->deletedListed > list.size() / 2) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const auto& entry) { return !entry.second; }),
               list.end());
    rec->deletedListed = 0;
    rec->byPath.clear(), rec->indexed = 0;
  }
  return removed;
}

void MofNamespace::PathsChanged() {
  for (const auto& rec : records_) rec->byPath.clear(), rec->indexed = 0;
}

void MofNamespace::Complete() {
  for (const auto& rec : records_) {
    auto& list = rec->listed;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const auto& entry) { return !entry.second; }),
               list.end());
    rec->deletedListed = 0;
    rec->byPath.clear(), rec->indexed = 0;
  }
}

}  // namespace posix_wmi
