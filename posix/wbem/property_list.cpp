// A class's properties in storage that its subclasses share. A chain of
// classes that each add a property keeps one storage; a family of classes
// under one superclass keeps one storage for the superclass's properties.
#include <stdexcept>
#include <utility>

#include "posix/wbem/names.h"
#include "posix/wbem/provider.h"

namespace posix_wmi {

const PropertyDef& PropertyList::at(size_t i) const {
  if (i >= size_) throw std::out_of_range("PropertyList::at");
  return store_->items[i];
}

PropertyList::const_iterator PropertyList::begin() const {
  return store_ ? store_->items.cbegin() : const_iterator();
}

PropertyList::const_iterator PropertyList::end() const {
  return store_ ? store_->items.cbegin() + static_cast<ptrdiff_t>(size_)
                : const_iterator();
}

void PropertyList::Own() {
  auto own = std::make_shared<Store>();
  if (store_) {
    const auto kept = static_cast<std::ptrdiff_t>(size_);
    own->items.assign(store_->items.begin(), store_->items.begin() + kept);
    own->defaults.assign(store_->defaults.begin(),
                         store_->defaults.begin() + kept);
    own->index.reserve(size_);
    for (size_t i = 0; i < size_; ++i)
      own->index.emplace(LowerName(own->items[i].name), i);
  }
  store_ = std::move(own);
}

void PropertyList::push_back(PropertyDef prop, CimValue value) {
  // Another list took the places after this one's: they are its own.
  if (!store_ || store_->items.size() != size_) Own();
  bool isDefault = !value.isNull;
  store_->index.emplace(LowerName(prop.name), size_);
  store_->items.push_back(std::move(prop));
  store_->defaults.push_back(std::move(value));
  ++size_;
  if (isDefault) withDefaults_ = size_;
}

size_t PropertyList::Find(std::string_view name) const {
  if (!store_) return npos;
  auto it = store_->index.find(LowerName(name));
  // A name past this list's end belongs to a list that grew after it.
  return it == store_->index.end() || it->second >= size_ ? npos : it->second;
}

void PropertyList::Set(size_t i, PropertyDef prop) {
  if (store_.use_count() > 1) Own();
  store_->items[i] = std::move(prop);
}

void PropertyList::SetDefault(size_t i, CimValue value) {
  if (store_.use_count() > 1) Own();
  if (!value.isNull && i >= withDefaults_) withDefaults_ = i + 1;
  store_->defaults[i] = std::move(value);
}

std::vector<CimValue> PropertyList::LeadingDefaults() const {
  if (!store_) return {};
  return std::vector<CimValue>(
      store_->defaults.begin(),
      store_->defaults.begin() + static_cast<ptrdiff_t>(withDefaults_));
}

}  // namespace posix_wmi
