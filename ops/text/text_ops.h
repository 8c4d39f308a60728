#pragma once
// Plain text files: byte-for-byte merge, and split by lines.

#include <string>

#include "batch/run.h"

namespace pw {

struct TextSplitOptions {
  enum class Way { Parts, Lines, Size };
  Way way = Way::Parts;
  std::string partsText = "2";   // number of parts
  std::string linesText = "25";  // lines per part
  std::string sizeText = "10";   // size per part, in units of 1000 bytes
  bool repeatTitle = true;       // the title line heads every part after the first
};

void MergeTextFiles(RunState& run, const CommonOptions& common, RunReporter& reporter);
void SplitTextFiles(RunState& run, const TextSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter);

}  // namespace pw
