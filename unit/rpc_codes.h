#pragma once

#include <cstdint>

namespace kel {

/// Service codes: the second byte of every request and reply.
namespace service {
constexpr uint8_t kPing = 0x41;         ///< "A": are you there?
constexpr uint8_t kPingReply = 0x42;    ///< "B": the answer to a ping
constexpr uint8_t kCommand = 0x45;      ///< "E": the command services below
constexpr uint8_t kFileData = 0x47;     ///< "G": file data block
constexpr uint8_t kFileDataAck = 0x48;  ///< "H": file data block with acknowledgement
}  // namespace service

/// Command codes of the command service, one table for every remote call
/// the program makes. All have the high byte 0x10.
namespace rpc {
constexpr uint16_t kReadUnitInfo = 0x1010;  ///< also ReadBasicInfo
constexpr uint16_t kGotoBootLoader = 0x1011;
constexpr uint16_t kReadBootLoaderVersion = 0x1012;
constexpr uint16_t kReadBootLoaderRelease = 0x1013;
constexpr uint16_t kReadAdvancedInfo = 0x1014;
constexpr uint16_t kReadExtendedInfo = 0x1015;
constexpr uint16_t kReadInformationText = 0x1016;
constexpr uint16_t kListRemoteUnits = 0x1017;
constexpr uint16_t kResetSystem = 0x1018;
constexpr uint16_t kGetModbusAddress = 0x101B;
constexpr uint16_t kIsVComPort = 0x101C;
constexpr uint16_t kGetBufferSize = 0x101F;
constexpr uint16_t kGetBufferSizeOld = 0x1091;  ///< boot-loader release below 11
constexpr uint16_t kWriteMemory = 0x1020;
constexpr uint16_t kExamineMemory = 0x1021;
constexpr uint16_t kTransferToRamProgram = 0x1022;
constexpr uint16_t kSetProgrammerSpeed = 0x1023;
constexpr uint16_t kSetProgrammerSpeedOld = 0x1090;  ///< boot-loader release below 11
constexpr uint16_t kWriteMemoryLarge = 0x1024;
constexpr uint16_t kOpenFile = 0x1026;
constexpr uint16_t kReadFileBlock = 0x1027;
constexpr uint16_t kCreateFile = 0x1029;
constexpr uint16_t kSetFileProperties = 0x102B;
constexpr uint16_t kCloseFile = 0x102C;
constexpr uint16_t kGetFileAttributes = 0x102F;
constexpr uint16_t kSetUnitSpeed = 0x1030;
constexpr uint16_t kGetProgrammerVersion = 0x1031;
constexpr uint16_t kReset = 0x1032;
constexpr uint16_t kResetProgrammer =
    0x1033;  ///< the same code polls readiness of application software
constexpr uint16_t kUnitReady = 0x1033;
constexpr uint16_t kGetDebugLogs = 0x1034;
constexpr uint16_t kEraseRange = 0x1035;
constexpr uint16_t kEraseFms = 0x1036;
constexpr uint16_t kBufferedChunk = 0x1038;
constexpr uint16_t kBufferedCommit = 0x1039;
constexpr uint16_t kConfigureProgrammer = 0x103B;
constexpr uint16_t kSearchKelUpdaterProxy = 0x103C;
constexpr uint16_t kSetProxySpeed = 0x103D;
constexpr uint16_t kOpenKelUpdaterProxy = 0x103E;
constexpr uint16_t kCloseKelUpdaterProxy = 0x103F;
constexpr uint16_t kProgramFlashFromBuffer = 0x103A;
constexpr uint16_t kProgramFlash = 0x1040;
constexpr uint16_t kProgramFlashWindowed = 0x1041;
constexpr uint16_t kProgramFlashLarge = 0x1042;
constexpr uint16_t kWrite128 = 0x1050;
constexpr uint16_t kRead128 = 0x1051;
}  // namespace rpc

}  // namespace kel
