#ifndef VELMO_SIFTON_H
#define VELMO_SIFTON_H
/* Sifton: finds elements in an in-memory DICOM stream. Stateless and reentrant;
 * never reads outside [buffer, buffer + length) and never writes.
 *
 * syntax: 0 implicit VR little endian, 1 explicit VR little endian,
 *         2 explicit VR big endian.
 * mode:   0 top level only, 1 any depth.
 * The tag is passed as four bytes in reading order: (7FE0,0010) is 0x7F, 0xE0, 0x00, 0x10. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define SIFTON_API __attribute__((visibility("default")))
#else
#define SIFTON_API
#endif

/* Pointer to the first byte of the tag of the first matching element, or null. */
SIFTON_API const unsigned char* Dll_DcmTagFind(const unsigned char* buffer, uint32_t length, int32_t syntax,
                                               int32_t mode, int32_t groupHigh, int32_t groupLow,
                                               int32_t elementHigh, int32_t elementLow);

/* Byte size of the leading group 0002 (explicit VR little endian), or 0 when the stream
 * does not start with group 0002, holds nothing else, or is damaged. */
SIFTON_API int32_t Dll_SendPtrFind(const unsigned char* buffer, int32_t length, int32_t unused);

/* Pointer to the first top-level element whose tag is equal to or greater than the
 * target (where it is or would be inserted), or null. */
SIFTON_API const unsigned char* Dll_DcmTagPosition(const unsigned char* buffer, int32_t length, int32_t syntax,
                                                   int32_t mode, int32_t groupHigh, int32_t groupLow,
                                                   int32_t elementHigh, int32_t elementLow);

#ifdef __cplusplus
}
#endif

#endif
