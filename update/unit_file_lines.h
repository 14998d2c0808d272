#pragma once

#include "flash/unit_files.h"
#include "runtime/output.h"

namespace kel {

/// The kinds of file a unit's file set holds; each has its own progress
/// line and failure message.
enum class UnitFileKind { kLanguage, kImage, kFont, kFieldbus };

/// "-- language file: $01E0(1234)" and the like, on the debug sink.
void PrintUnitFileLine(Output& out, UnitFileKind kind, const UnitFile& file);

/// The fatal message when a file of `kind` cannot be written.
const char* UnitFileFailure(UnitFileKind kind);

}  // namespace kel
