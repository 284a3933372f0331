#include "models/owned_list.h"

#include <gtest/gtest.h>

namespace bravik {
namespace {

struct Item {
  Item(std::string id, int value) : id_(std::move(id)), value(value) {}
  const std::string& id() const { return id_; }
  std::string id_;
  int value;
};

TEST(OwnedListTest, ReplacesInPlaceAndSkipsRemovedEntries) {
  OwnedList<Item> list;
  EXPECT_FALSE(list.insert(std::make_unique<Item>("A", 1)));
  EXPECT_FALSE(list.insert(std::make_unique<Item>("B", 2)));
  EXPECT_FALSE(list.insert(std::make_unique<Item>("C", 3)));
  EXPECT_TRUE(list.insert(std::make_unique<Item>("A", 4)));
  EXPECT_EQ(list.entryCount(), 3);
  EXPECT_EQ(list.at(0)->value, 4);
  EXPECT_EQ(list.find("a"), nullptr);

  list.remove(1);
  EXPECT_EQ(list.find("B"), nullptr);
  EXPECT_EQ(list.at(1), nullptr);
  EXPECT_EQ(list.count(), 2);
  ASSERT_EQ(list.items().size(), 2u);
  EXPECT_EQ(list.items()[1]->id(), "C");

  // A removed ID read again is appended as a new object.
  EXPECT_FALSE(list.insert(std::make_unique<Item>("B", 5)));
  EXPECT_EQ(list.indexOf("B"), 3);
  EXPECT_EQ(list.find("C")->value, 3);
}

}  // namespace
}  // namespace bravik
