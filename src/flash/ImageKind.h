#pragma once
// The three kinds of firmware image the update tells apart (by the image's signatures):
// a plain image has no profile step; the two new-format kinds upload a flash profile first.

namespace flash {

enum class ImageKind { Plain, CdRwNewFormat, DvdRom };

inline constexpr ImageKind ImageKindFromFlags(bool cdRwNewFormat, bool dvdRom) {
  return dvdRom ? ImageKind::DvdRom : cdRwNewFormat ? ImageKind::CdRwNewFormat : ImageKind::Plain;
}

} // namespace flash
