// Growable arrays of fixed-size entries (grown by a quarter of the capacity).
#pragma once
#include <cstdint>

struct ArrayList {
    void* entries;
    int32_t count;
    int32_t capacity;
    int32_t entrySize;
};

// Capacity 20; null when memory runs out.
ArrayList* ArrayList_Create(int32_t entrySize);
// A new entry at the end (grows to capacity + capacity / 4); null and
// 0x80000013 when growth fails (the list is unchanged).
void* ArrayList_GetNewEntry(ArrayList* list);
// n new entries; returns the first.
void* ArrayList_GetNewEntries(ArrayList* list, int32_t n);
void* ArrayList_GetEntry(ArrayList* list, int32_t i);
// The array, or null when empty.
void* ArrayList_GetArray(ArrayList* list);
void ArrayList_Clear(ArrayList* list);
void ArrayList_Destroy(ArrayList* list);
// Frees the record and hands the array to the caller (free it with
// Engine_Free); an empty list frees the array and returns null.
void* ArrayList_DestroyKeepArray(ArrayList* list);
