#ifndef BRAVIK_MODELS_OWNED_LIST_H
#define BRAVIK_MODELS_OWNED_LIST_H

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace bravik {

// An ordered list that owns its objects, keyed by their id(). Input order is kept;
// inserting an ID that is already present replaces the old object in its position;
// a removed object leaves an empty entry that every walk skips. Look-ups by ID use a
// hash index, so an object's ID must not change while it is listed.
template <class T>
class OwnedList {
 public:
  // Inserts by ID; true when an object with that ID was replaced (and destroyed).
  bool insert(std::unique_ptr<T> object) {
    const int index = indexOf(object->id());
    if (index >= 0) {
      items_[index] = std::move(object);
      return true;
    }
    index_.emplace(object->id(), static_cast<int>(items_.size()));
    items_.push_back(std::move(object));
    return false;
  }

  // Index of the object with this ID (exact, case-sensitive), or -1.
  int indexOf(const std::string& id) const {
    const auto found = index_.find(id);
    return found == index_.end() ? -1 : found->second;
  }

  T* find(const std::string& id) const {
    const int index = indexOf(id);
    return index < 0 ? nullptr : items_[index].get();
  }

  // Destroys the object at `index` and leaves its entry empty.
  void remove(int index) {
    if (!items_[index]) return;
    index_.erase(items_[index]->id());
    items_[index].reset();
  }

  // Number of entries, empty ones included.
  int entryCount() const { return static_cast<int>(items_.size()); }
  // The object at `index`, or nullptr for an empty entry.
  T* at(int index) const { return items_[index].get(); }

  // The objects in list order, empty entries skipped.
  std::vector<T*> items() const {
    std::vector<T*> result;
    for (const auto& item : items_) {
      if (item) result.push_back(item.get());
    }
    return result;
  }
  int count() const {
    int n = 0;
    for (const auto& item : items_) n += item ? 1 : 0;
    return n;
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
  std::unordered_map<std::string, int> index_;  // ID -> entry of a listed object
};

}  // namespace bravik

#endif  // BRAVIK_MODELS_OWNED_LIST_H
