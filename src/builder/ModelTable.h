#pragma once
// The model configuration file beside a builder: sections MODEL00 to MODEL99, each giving the
// texts of one drive model for a flasher's payload header and the mask of its firmware files.

#include <cstddef>
#include <string>
#include <vector>

namespace builder {

// A model's texts as a flasher's payload header carries them.
struct ModelEntry {
  std::string Model;         // cut to 24 characters
  std::string Inquiry;       // cut or blank-padded to exactly 24 characters
  std::string FirmwareRange; // key "FW-Range", cut to 24 characters
  std::string Vendor;        // cut to 24 characters
  std::string Note;          // cut to 24 characters
};

// Section MODELii of the file.
struct ModelSection {
  ModelEntry Entry;
  std::string BINMask; // as read
  std::string Item;    // the model box's entry: FW-Range, a blank, Inquiry, both as read
};

// The sections in file order, MODEL00 first.
struct ModelTable {
  std::vector<ModelSection> Sections;

  std::size_t Count() const { return Sections.size(); }
};

struct ModelTableLoad {
  bool Loaded = false;
  ModelTable Table;
  // On failure, the text to show: "Can't load <file>" or "<file> > Session <section> error!".
  std::string Message;
  // Why the file could not be loaded, when the system said (the command line shows it).
  std::string Reason;

  // Message, followed by the reason when there is one.
  std::string MessageWithReason() const { return Reason.empty() ? Message : Message + ": " + Reason; }
};

inline constexpr int kMaxModels = 100;

// A file that belongs to a program: its full path with the extension replaced by extension.
std::string FileBesideProgram(const std::string& programPath, const std::string& extension);

// The model file of a program: its full path with the extension replaced by ".INI".
std::string ModelFileName(const std::string& programPath);

// Reads the model file through the platform's INI reader. Reading stops at the first section
// without a Model key; a file without MODEL00, or a section with Model but another key missing
// (or literally "FAIL"), is rejected as a whole.
ModelTableLoad LoadModelTable(const std::string& iniPath);

} // namespace builder
