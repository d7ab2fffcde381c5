#pragma once
// Sense decoding as data: the names of the sense keys and the texts of the standard's
// additional sense codes (ASC/ASCQ) that optical drives report.

#include <cstdint>
#include <span>
#include <string>

namespace drive {

// One row of the additional sense table: an ASC with one ASCQ, or with a range of ASCQs whose
// text names the ASCQ as "NN" (e.g. 40/80-FF "DIAGNOSTIC FAILURE ON COMPONENT NN").
struct AdditionalSense {
  std::uint8_t Asc;
  std::uint8_t AscqFirst;
  std::uint8_t AscqLast;
  const char* Text;
};

// The table, sorted by ASC and first ASCQ, rows not overlapping.
std::span<const AdditionalSense> AdditionalSenseTable();

// "ILLEGAL REQUEST" and the like, for the low four bits of key (the flags above are ignored).
const char* SenseKeyName(std::uint8_t key);

// The decoded sense: "ILLEGAL REQUEST: INVALID FIELD IN CDB"; "ILLEGAL REQUEST: VENDOR
// SPECIFIC" for a vendor's own ASC or ASCQ (80h-FFh); the key name alone for a code the table
// does not know.
std::string DescribeSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

} // namespace drive
