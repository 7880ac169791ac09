#pragma once
// Conversion of a field's bytes in the record buffer into the value handed to callers.

#include <cstdint>
#include <string>
#include <vector>

#include "EdbTableMetadata.h"
#include "EdbVariant.h"

namespace edb {

// Converts the non-BLOB field bytes at `data` (the field's bytes in the record buffer, at least
// the field's buffer size long) into a value by the field's value kind. The null bit is the
// caller's matter. ANSI text is decoded with `codePage` (0: the default code page).
// Raises EEdbException 30050 for an unknown base type.
TEdbVariant EdbConvertFieldValue(const TEdbFieldDef& fd, const uint8_t* data, uint32_t codePage);

// A loaded BLOB value: memo kinds as ANSI text, the others as bytes.
TEdbVariant EdbConvertBlobValue(const TEdbFieldDef& fd, std::vector<uint8_t> bytes,
                                uint32_t codePage);

// The reverse, for writers: the bytes of a non-null value in the field's record-buffer form
// (`out` must hold the field's buffer size and is zero-filled first). Text is encoded with the
// code page (ANSI kinds) or as UTF-16LE (wide kinds) and cut to FieldSize characters.
void EdbEncodeFieldValue(const TEdbFieldDef& fd, const TEdbVariant& v, uint8_t* out,
                         uint32_t codePage);

// Rounds an x87 80-bit extended value (10 bytes, little-endian) to double, and back.
double EdbExtendedToDouble(const uint8_t* p10);
void EdbDoubleToExtended(double v, uint8_t* p10);

}  // namespace edb
