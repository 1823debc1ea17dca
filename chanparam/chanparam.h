/*
 * chanparam: named, typed parameters of a device kept in a singly linked list, and for a
 * device list a singly linked list of numbered channel records, behind a flat C interface.
 *
 * Usable from C (C11 or later) and C++. The library is libchanparam.so; it exports exactly
 * the eleven functions declared below, by name, with the platform's C calling convention
 * (the caller removes the arguments). It keeps no global state and takes no locks: a list
 * is used by one thread at a time.
 *
 * Records. The record layouts were first laid out for 32-bit pointers; in this build the
 * pointer fields are 8 bytes wide and sit on 8-byte boundaries, which moves every field
 * behind them. The static assertions at the end of this header pin the offsets.
 *
 * Memory. Records come from the system's page allocator: every record is its own
 * zero-filled anonymous page mapping (mmap) and is given back with munmap by the library,
 * never with free(). Records returned by the library stay valid until
 * DeleteParamArray of their list (channel records until DeleteChanelArray).
 *
 * Text. Names, comments and string values are UTF-8 in this build (the Russian comments of
 * the device list included, which other builds of the system keep in code page 1251). Limits are
 * counted in bytes: a name holds at most 31 bytes, a comment or string value at most 99 bytes plus
 * the terminating zero. Longer comments and strings are cut, and the cut never splits a UTF-8
 * sequence, so a cut text may keep fewer than 99 bytes.
 *
 * Results. The functions returning int give 0 when they did their job and -1 when they
 * refused an argument (a null pointer, or a record that is not the head of a list where a
 * head is required). The functions returning records give null on refusal or when the
 * system has no memory for a new record.
 */
#ifndef CHANPARAM_CHANPARAM_H
#define CHANPARAM_CHANPARAM_H

#include <stddef.h>
#include <stdint.h>

#if defined(CHANPARAM_BUILDING)
#define CHANPARAM_API __attribute__((visibility("default")))
#else
#define CHANPARAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Value type codes. Only the size of a value follows from its code:
 *   0, 1        one byte
 *   2, 3        16 bits
 *   4, 5, 8..12 32 bits
 *   6           zero-terminated string, at most 99 bytes
 *   7           a pointer (8 bytes in this build); "Chanels" of a device list has it
 * Any other code stores and yields nothing. */
enum {
    CHANPARAM_TYPE_STRING = 6,
    CHANPARAM_TYPE_POINTER = 7,
    CHANPARAM_NAME_SIZE = 64,
    CHANPARAM_NAME_MAX = 31,
    CHANPARAM_TEXT_SIZE = 100,
    CHANPARAM_TEXT_MAX = 99
};

/* One parameter; the head of a list is a parameter too. The head is named "ParamCount",
 * has Index 1, Type 0, Flag 1, and byte 0 of its Value counts the parameters added after it
 * (8 bits, so it wraps after 255). An added parameter's Index is that count, taken as a
 * signed 8-bit number, when it was added. Flag is 1 for the head and for the three fixed
 * parameters of a device list, 0 otherwise. */
typedef struct TParamRecord {
    int16_t Index;                            /* 0 */
    int16_t Type;                             /* 2 */
    int16_t Reserved4;                        /* 4, always 0 */
    int16_t Reserved6;                        /* 6, always 0 */
    int16_t Flag;                             /* 8 */
    int16_t Reserved10;                       /* 10, always 0 */
    uint8_t Reserved12[4];                    /* 12..15, always 0 */
    struct TParamRecord* Next;                /* 16, next parameter or null */
    char Name[CHANPARAM_NAME_SIZE];           /* 24 */
    char Comment[CHANPARAM_TEXT_SIZE];        /* 88 */
    unsigned char Value[CHANPARAM_TEXT_SIZE]; /* 188, by Type */
} TParamRecord;

/* One channel. The library owns Number and Next; every other byte starts as zero and
 * belongs to the caller. */
typedef struct TChanelRecord {
    uint16_t Number;            /* 0 */
    uint8_t UserHead[14];       /* 2..15 */
    struct TChanelRecord* Next; /* 16, next channel or null */
    uint8_t UserData[2112];     /* 24..2135 */
} TChanelRecord;

/* A new empty list: just the head. */
CHANPARAM_API TParamRecord* CreateParamArray(void);

/* A new device list: the head followed by
 *   "ChanelCount" type 4, comment "Количество каналов", value 0;
 *   "Chanels"     type 7, comment "Указатель на список каналов", value null (the address
 *                 of the first channel record);
 *   "DLL"         type 6, comment "Имя библиотеки", value empty;
 * each with Flag 1, so the count is 3. */
CHANPARAM_API TParamRecord* CreateDeviceParamArray(void);

/* The parameter named `name` of the list at `head`. A parameter of that name that already
 * exists is returned unchanged (its type, comment and value stay); otherwise a new one is
 * appended with the given type and comment (comment may be null: empty). Null when the name
 * has 32 or more bytes, when an argument is null or `head` is not a head, or when no memory
 * is left. */
CHANPARAM_API TParamRecord* AddParam(TParamRecord* head, const char* name, const char* comment,
                                     int16_t type);

/* The first record from `first` on whose name equals `name` (case-sensitive), or null. */
CHANPARAM_API TParamRecord* FindParam(TParamRecord* first, const char* name);

/* Copies `text` into Comment, cut to 99 bytes. */
CHANPARAM_API int SetParamComment(TParamRecord* param, const char* text);

/* Copies the value at `value` into Value by Type. Reads exactly the value's size for the
 * fixed-size types; for a string reads up to its terminating zero but never more than 99
 * bytes, and keeps at most 99. */
CHANPARAM_API int SetParamValue(TParamRecord* param, const void* value);

/* Copies Value by Type into `buffer`: exactly the value's size for the fixed-size types,
 * the string with its terminating zero for type 6 (at most 100 bytes; a buffer of 100 bytes
 * always suffices). */
CHANPARAM_API int GetParamValue(TParamRecord* param, void* buffer);

/* Appends a new channel record with `number` to the channels of the device list at `head`
 * and updates "ChanelCount" and "Chanels". A number already present is added again. Null
 * when `head` is not a device list head or when no memory is left. */
CHANPARAM_API TChanelRecord* AddChanel(TParamRecord* head, uint16_t number);

/* The first channel with `number`, or null (also when the list has no channels). */
CHANPARAM_API TChanelRecord* FindChanel(TParamRecord* head, uint16_t number);

/* Frees every channel record of the device list, then sets "Chanels" to null and
 * "ChanelCount" to 0. Harmless on a list without channels or without channel parameters. */
CHANPARAM_API int DeleteChanelArray(TParamRecord* head);

/* DeleteChanelArray, then frees every parameter record including the head. */
CHANPARAM_API int DeleteParamArray(TParamRecord* head);

#ifdef __cplusplus
} /* extern "C" */
#define CHANPARAM_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define CHANPARAM_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif

CHANPARAM_STATIC_ASSERT(sizeof(void*) == 8, "chanparam records are laid out for 64-bit builds");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Index) == 0, "Index at 0");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Type) == 2, "Type at 2");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Reserved4) == 4, "zero field at 4");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Reserved6) == 6, "zero field at 6");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Flag) == 8, "Flag at 8");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Reserved10) == 10, "zero field at 10");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Reserved12) == 12, "zero bytes at 12");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Next) == 16, "Next at 16");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Name) == 24, "Name at 24");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Comment) == 88, "Comment at 88");
CHANPARAM_STATIC_ASSERT(offsetof(TParamRecord, Value) == 188, "Value at 188");
CHANPARAM_STATIC_ASSERT(sizeof(TParamRecord) == 288, "parameter record is 288 bytes");
CHANPARAM_STATIC_ASSERT(offsetof(TChanelRecord, Number) == 0, "channel number at 0");
CHANPARAM_STATIC_ASSERT(offsetof(TChanelRecord, Next) == 16, "channel Next at 16");
CHANPARAM_STATIC_ASSERT(offsetof(TChanelRecord, UserData) == 24, "caller's bytes from 24");
CHANPARAM_STATIC_ASSERT(sizeof(TChanelRecord) == 2136, "channel record is 2136 bytes");

#undef CHANPARAM_STATIC_ASSERT

#endif /* CHANPARAM_CHANPARAM_H */
