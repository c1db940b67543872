#ifndef VELMO_CORVEL_H
#define VELMO_CORVEL_H
/* Corvel: replaces or inserts one top-level element in the in-memory image of a
 * whole DICOM file (optional preamble and "DICM", file meta group, data set).
 *
 * buffer       the file image, allocated with malloc; the library may realloc it.
 * length       the file length on entry, the new file length on return.
 * group/element the tag as four bytes in reading order: (0010,0010) is 0x00, 0x10, 0x00, 0x10.
 * vr           two characters. For an element that already exists the VR in the file
 *              decides its layout; the argument gives the layout of a new element
 *              and the value encoding.
 * valueLength  bytes the value occupies: 2 for SS/US, 4 for SL/UL/FL, 8 for FD,
 *              else the count of value bytes (already padded to even length).
 * value        a NUL-terminated decimal text for SS, US, SL, UL, FL and FD (written
 *              as a binary number in the file's byte order); the value bytes otherwise.
 *
 * Returns the buffer that holds the result (the same pointer when nothing changed);
 * the caller frees it with free(). Nothing changes (and *length stays) when the tag
 * sorts after the pixel data, the existing element is a sequence or has an undefined
 * length, the file is deflated, its encoding cannot be told, the value does not fit
 * the element's length field, or memory runs out. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define CORVEL_API __attribute__((visibility("default")))
#else
#define CORVEL_API
#endif

CORVEL_API unsigned char* Dll_Corvel(unsigned char* buffer, uint32_t* length, int32_t groupHigh, int32_t groupLow,
                                     int32_t elementHigh, int32_t elementLow, const char* vr,
                                     uint32_t valueLength, const void* value);

#ifdef __cplusplus
}
#endif

#endif
