#include "support/lists.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item {
    ListNode link;
    int id;
};

std::vector<int> Forward(const ListHeader &list) {
    std::vector<int> ids;
    for (ListNode *node = list.first; node != nullptr; node = node->next) {
        ids.push_back(reinterpret_cast<Item *>(node)->id);
    }
    return ids;
}

std::vector<int> Backward(const ListHeader &list) {
    std::vector<int> ids;
    for (ListNode *node = list.last; node != nullptr; node = node->prev) {
        ids.push_back(reinterpret_cast<Item *>(node)->id);
    }
    return ids;
}

// Checks the order both ways, so a broken prev or next link shows.
void ExpectOrder(const ListHeader &list, std::vector<int> ids) {
    EXPECT_EQ(Forward(list), ids);
    std::vector<int> reversed(ids.rbegin(), ids.rend());
    EXPECT_EQ(Backward(list), reversed);
}

class ListsTest : public ::testing::Test {
  protected:
    Item items_[5] = {{{}, 0}, {{}, 1}, {{}, 2}, {{}, 3}, {{}, 4}};
    ListHeader list_ = {nullptr, nullptr};
    ListNode *Node(int i) { return &items_[i].link; }
};

TEST_F(ListsTest, InsertAtEitherEndAndInTheMiddle) {
    // Into an empty list the position is ignored.
    ListInsert(&list_, Node(0), Node(3));
    ExpectOrder(list_, {0});
    EXPECT_EQ(list_.first, Node(0));
    EXPECT_EQ(list_.last, Node(0));

    ListInsert(&list_, Node(1), list_.last);
    ExpectOrder(list_, {0, 1});
    ListInsert(&list_, Node(2), nullptr);
    ExpectOrder(list_, {2, 0, 1});
    ListInsert(&list_, Node(3), Node(2));
    ExpectOrder(list_, {2, 3, 0, 1});
    ListInsert(&list_, Node(4), Node(0));
    ExpectOrder(list_, {2, 3, 0, 4, 1});
    EXPECT_EQ(list_.first->prev, nullptr);
    EXPECT_EQ(list_.last->next, nullptr);
}

TEST_F(ListsTest, RemoveFromEitherEndAndTheMiddle) {
    for (int i = 0; i < 5; ++i)
        ListInsert(&list_, Node(i), list_.last);

    ListRemove(&list_, Node(2));
    ExpectOrder(list_, {0, 1, 3, 4});
    ListRemove(&list_, Node(0));
    ExpectOrder(list_, {1, 3, 4});
    ListRemove(&list_, Node(4));
    ExpectOrder(list_, {1, 3});
    EXPECT_EQ(list_.first->prev, nullptr);
    EXPECT_EQ(list_.last->next, nullptr);

    // Removing the last of two leaves the other as both ends.
    ListRemove(&list_, Node(3));
    ExpectOrder(list_, {1});
    EXPECT_EQ(list_.first, Node(1));
    EXPECT_EQ(list_.last, Node(1));

    ListRemove(&list_, Node(1));
    EXPECT_EQ(list_.first, nullptr);
    EXPECT_EQ(list_.last, nullptr);

    // An emptied list takes new members again.
    ListInsert(&list_, Node(4), nullptr);
    ExpectOrder(list_, {4});
}

}  // namespace
