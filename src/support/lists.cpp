#include "support/lists.h"

#include <cstddef>

void ListInsert(ListHeader *list, ListNode *node, ListNode *after) {
    if (list->first == nullptr) {
        node->next = nullptr;
        node->prev = nullptr;
        list->first = node;
        list->last = node;
    } else if (after == list->last) {
        list->last->next = node;
        node->prev = list->last;
        node->next = nullptr;
        list->last = node;
    } else if (after != nullptr) {
        node->next = after->next;
        node->prev = after;
        after->next->prev = node;
        after->next = node;
    } else {
        node->next = list->first;
        node->prev = nullptr;
        list->first->prev = node;
        list->first = node;
    }
}

void ListRemove(ListHeader *list, ListNode *node) {
    if (list->first == nullptr) return;
    if (list->first->next == nullptr) {
        list->first = nullptr;
        list->last = nullptr;
    } else if (node == list->first) {
        list->first = node->next;
        list->first->prev = nullptr;
    } else if (node != list->last) {
        node->prev->next = node->next;
        node->next->prev = node->prev;
    } else {
        list->last = node->prev;
        list->last->next = nullptr;
    }
}
