#include "support/lists.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item {
    ListNode link;
    int id;
};

// The ids both ways, so that a broken prev or next link shows.
void ExpectOrder(const ListHeader &list, const std::vector<int> &ids) {
    std::vector<int> forward, backward;
    for (ListNode *node = list.first; node != nullptr; node = node->next)
        forward.push_back(reinterpret_cast<Item *>(node)->id);
    for (ListNode *node = list.last; node != nullptr; node = node->prev)
        backward.insert(backward.begin(), reinterpret_cast<Item *>(node)->id);
    EXPECT_EQ(forward, ids);
    EXPECT_EQ(backward, ids);
}

TEST(Lists, InsertAndRemoveAtEitherEndAndInTheMiddle) {
    Item items[5] = {{{}, 0}, {{}, 1}, {{}, 2}, {{}, 3}, {{}, 4}};
    ListHeader list = {nullptr, nullptr};
    auto node = [&](int i) { return &items[i].link; };

    ListInsert(&list, node(0), node(3));  // into an empty list the position is ignored
    ExpectOrder(list, {0});
    ListInsert(&list, node(1), list.last);
    ListInsert(&list, node(2), nullptr);
    ExpectOrder(list, {2, 0, 1});
    ListInsert(&list, node(3), node(2));
    ListInsert(&list, node(4), node(0));
    ExpectOrder(list, {2, 3, 0, 4, 1});

    ListRemove(&list, node(0));
    ExpectOrder(list, {2, 3, 4, 1});
    ListRemove(&list, node(2));
    ExpectOrder(list, {3, 4, 1});
    ListRemove(&list, node(1));
    ExpectOrder(list, {3, 4});
    ListRemove(&list, node(4));
    ExpectOrder(list, {3});
    EXPECT_EQ(list.first, node(3));
    EXPECT_EQ(list.last, node(3));
    ListRemove(&list, node(3));
    EXPECT_EQ(list.first, nullptr);
    EXPECT_EQ(list.last, nullptr);
    ListInsert(&list, node(4), nullptr);  // an emptied list takes new members again
    ExpectOrder(list, {4});
}

}  // namespace
