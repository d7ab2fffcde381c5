#pragma once
// The ASPI layer's interface as WNASPI32.DLL publishes it: the two entry points, the execute
// request and its status codes. A binary interface of its own, beside the layers: the ASPI
// transport (drive/) calls it and the stand-in library (sim/aspi/) serves it.

#include <cstddef>
#include <cstdint>

namespace aspi {

inline constexpr const char* kLibraryName = "WNASPI32.DLL";
inline constexpr const char* kSupportInfoName = "GetASPI32SupportInfo";
inline constexpr const char* kSendCommandName = "SendASPI32Command";
// Exported only by the stand-in library, which serves emulated drives.
inline constexpr const char* kStandInMarkerName = "OdflashEmulatedDrives";

inline constexpr std::uint8_t kScHaInquiry = 0x00;
inline constexpr std::uint8_t kScExecScsiCmd = 0x02;
// With it the layer returns the residual in SRB_BufLen, where it reports one (HaInquiry says).
inline constexpr std::uint8_t kSrbEnableResidualCount = 0x04;
inline constexpr std::uint8_t kSrbDirIn = 0x08;
inline constexpr std::uint8_t kSrbDirOut = 0x10;
inline constexpr std::uint8_t kSrbEventNotify = 0x40;

inline constexpr std::uint8_t kSsPending = 0x00;
inline constexpr std::uint8_t kSsComp = 0x01;
inline constexpr std::uint8_t kSsAborted = 0x02;
inline constexpr std::uint8_t kSsErr = 0x04;
inline constexpr std::uint8_t kSsInvalidHa = 0x81;
inline constexpr std::uint8_t kSsNoDevice = 0x82;
inline constexpr std::uint8_t kSsInvalidSrb = 0xE0;
inline constexpr std::uint8_t kSsNoAspi = 0xE8;

// SRB_HaStat: what the host adapter made of the request.
inline constexpr std::uint8_t kHaStatOk = 0x00;
inline constexpr std::uint8_t kHaStatTimeout = 0x09;        // timed out waiting to be processed
inline constexpr std::uint8_t kHaStatCommandTimeout = 0x0B; // timed out while being processed
inline constexpr std::uint8_t kHaStatBusReset = 0x0E;
inline constexpr std::uint8_t kHaStatSelectionTimeout = 0x11; // nothing answered at the target
// The transfer moved more or fewer bytes than SRB_BufLen: a short data-in answer (INQUIRY's
// 128-byte allocation) is reported this way by some layers.
inline constexpr std::uint8_t kHaStatDataOverUnderrun = 0x12;

// HA_Unique byte 2, bit 1: the adapter reports the residual byte count.
inline constexpr std::size_t kHaUniqueResidualByte = 2;
inline constexpr std::uint8_t kHaUniqueResidualSupported = 0x02;

inline constexpr std::uint8_t kSenseLength = 14;

#pragma pack(push, 1)
struct SrbExecScsiCmd {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  void* SRB_PostProc; // the event handle with kSrbEventNotify
  std::uint8_t SRB_Rsvd2[20];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[kSenseLength + 2];
};

// SC_HA_INQUIRY: what the layer says of one host adapter; completed before the call returns.
struct SrbHaInquiry {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];
  std::uint16_t HA_Rsvd1;
};
#pragma pack(pop)

static_assert(sizeof(SrbHaInquiry) == 60, "the adapter inquiry is 60 bytes");
static_assert(sizeof(void*) != 4 || sizeof(SrbExecScsiCmd) == 80, "the 32-bit request is 80 bytes");

// The entry points, __cdecl.
using GetSupportInfoFunction = std::uint32_t (*)();
using SendCommandFunction = std::uint32_t (*)(void* request);

} // namespace aspi
