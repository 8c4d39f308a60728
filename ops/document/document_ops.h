#pragma once
// Word-processor documents (.doc, .docx): merge into one document, and split
// into parts, through a private office server started once per run.

#include <string>

#include "batch/run.h"

namespace pw {

struct DocumentMergeOptions {
  bool pageBreak = true;   // a page break after each document
  bool paragraph = false;  // a paragraph mark after each document (after the break)
};

struct DocumentSplitOptions {
  enum class Way { Parts, Pages, Characters };
  Way way = Way::Parts;
  std::string partsText = "2";         // split evenly into so many documents
  std::string pagesText = "5";         // pages per document
  std::string charactersText = "500";  // characters per document
  // Office servers cutting sources at once, each its own process: a batch
  // keeps the processor's cores busy, one server a core at most.
  int servers = 2;
};

// Joins the run's documents into one at `OutputBase` (".docx" is added when it
// has no document extension; the real path is stored back). The merged
// document appears whole or not at all: a failure or a stop writes nothing.
// Sources are only removed once it is written.
void MergeDocuments(RunState& run, const DocumentMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter);

// Cuts each document into parts "name_k.ext" in the folder of `OutputBase`,
// each part in its source's format; a source named like one cut earlier in
// the run gets "name(2)_k.ext", so no part replaces another. Each part
// appears whole or not at all, and a stop between two parts of a source
// removes the parts of that source already written. Sources are never saved.
// Several sources are cut at once, but the run reports them in list order, and
// a source after one that a stop left unfinished keeps no parts either.
void SplitDocuments(RunState& run, const DocumentSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter);

}  // namespace pw
