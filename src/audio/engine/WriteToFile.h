#pragma once
// Where the recording engines hand their finished PCM blocks.
#include "audio/input/Buffer.h"

namespace tovik {

struct IWriteToFile {
  // Appends one block of interleaved 16-bit PCM.
  virtual bool Write(const CBuffer& block) = 0;
  // Finishes the file; later writes fail.
  virtual bool Close() = 0;
  virtual ~IWriteToFile() = default;
};

}  // namespace tovik
