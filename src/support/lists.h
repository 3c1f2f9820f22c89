// Doubly linked lists with a two-ended header. A node type starts with a
// ListNode member, so a node pointer and its record pointer are the same address.
#pragma once

struct ListNode {
    ListNode *next;  // toward last
    ListNode *prev;  // toward first
};

struct ListHeader {
    ListNode *first;
    ListNode *last;
};

// Links node in behind after. after null puts node in front of first; an empty
// list makes node both first and last.
void ListInsert(ListHeader *list, ListNode *node, ListNode *after);
// Unlinks node, which must be a member. The node's memory is the caller's.
void ListRemove(ListHeader *list, ListNode *node);
