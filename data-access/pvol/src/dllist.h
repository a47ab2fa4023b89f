// Intrusive circular doubly linked list of the volume model (internal).
//
// A head is a sentinel and never an element: an empty list's head points to itself. A node in no
// list has both links null, which is how the model tells whether a configuration or sweep is
// registered somewhere.
#ifndef PVOL_DLLIST_H
#define PVOL_DLLIST_H

#include <cstddef>

struct dllist {
    dllist *next;
    dllist *prev;
};

inline void dllist_init_head(dllist *head) {
    head->next = head->prev = head;
}

inline void dllist_init_node(dllist *node) {
    node->next = node->prev = nullptr;
}

inline bool dllist_is_linked(const dllist *node) {
    return node->next != nullptr;
}

inline bool dllist_is_empty(const dllist *head) {
    return head->next == head;
}

// Links node immediately before pos; with pos a head this appends at the tail.
inline void dllist_insert_before(dllist *node, dllist *pos) {
    node->next = pos;
    node->prev = pos->prev;
    pos->prev->next = node;
    pos->prev = node;
}

inline void dllist_remove(dllist *node) {
    node->prev->next = node->next;
    node->next->prev = node->prev;
    dllist_init_node(node);
}

// The record that embeds node at member_offset.
template <typename Record>
Record *dllist_entry(dllist *node, std::size_t member_offset) {
    return reinterpret_cast<Record *>(reinterpret_cast<char *>(node) - member_offset);
}

#define PVOL_DLLIST_ENTRY(node, Record, member) \
    dllist_entry<Record>((node), offsetof(Record, member))

#endif  // PVOL_DLLIST_H
