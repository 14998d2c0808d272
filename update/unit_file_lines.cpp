#include "update/unit_file_lines.h"

#include "runtime/text_format.h"

namespace kel {

void PrintUnitFileLine(Output& out, UnitFileKind kind, const UnitFile& file) {
  const char* lead = "-- file: $";
  switch (kind) {
    case UnitFileKind::kLanguage:
      lead = "-- language file: $";
      break;
    case UnitFileKind::kImage:
      lead = "-- image file: $";
      break;
    case UnitFileKind::kFont:
      lead = "-- font file: $";
      break;
    case UnitFileKind::kFieldbus:
      break;
  }
  out.Print(Sink::kDebug, lead, Hex(file.fileNumber, 4), "(", file.size, ")\r\n");
}

const char* UnitFileFailure(UnitFileKind kind) {
  switch (kind) {
    case UnitFileKind::kLanguage:
      return "Unable to send language file";
    case UnitFileKind::kImage:
      return "Unable to send images file";
    case UnitFileKind::kFont:
      return "Unable to send font file";
    case UnitFileKind::kFieldbus:
      break;
  }
  return "Unable to send file";
}

}  // namespace kel
