#pragma once
// What the word-processor model keeps of one document (this folder only).

#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/office/office_uno.h"
#include "platform/office/word.h"

namespace pw::word {

// One piece of the main text: a paragraph, or a whole table.
struct Block {
  int start = 0;                               // first position
  int length = 0;                              // positions, paragraph and cell ends included
  int chars = 0;                               // characters, paragraph and cell ends not included
  Reference<css::text::XTextRange> paragraph;  // set for a paragraph
  Reference<css::uno::XInterface> table;       // set for a table
};

struct DocumentState {
  std::string path;  // empty for a document made by Add
  Reference<css::lang::XComponent> component;
  Reference<css::text::XTextDocument> model;
  Reference<css::text::XText> body;
  Reference<css::frame::XController> controller;
  Reference<css::text::XTextViewCursor> view;
  bool added = false;
  bool padded = false;  // an empty paragraph was added at the end
  bool fresh = true;    // nothing pasted into it yet
  int pastes = 0;       // documents pasted in so far

  // Documents made by Add: their built-in style names per family, and the
  // looks of their paragraph styles as first seen.
  std::map<std::string, std::set<OUString>> builtinStyles;
  std::map<OUString, css::uno::Sequence<css::uno::Any>> styleLooks;
  // Paragraph styles given names of their own: original name, look, new name.
  std::vector<std::tuple<OUString, css::uno::Sequence<css::uno::Any>, OUString>> forks;
  // Page styles made for pasted documents, with the look they were made from.
  std::vector<std::pair<OUString, css::uno::Sequence<css::uno::Any>>> pageStyles;

  bool laidOut = false;
  bool mapped = false;
  std::vector<Block> blocks;
  int length = 0;
  int chars = 0;
};

// The content of the last Copy: the source and its selection at that moment.
struct WordApplication::Carrier {
  std::unique_ptr<WordDocument> closedSource;  // a source closed after Copy, kept until released
  WordDocument* source = nullptr;
  css::uno::Any selection;
};

// Makes content pasted from `source` keep its look in `target`: styles whose
// names clash but whose looks differ get names of their own in the (never
// saved) source first.
void PrepareStyles(OfficeServer::Impl& server, DocumentState& source, DocumentState& target);

// Content about to land at `landing`, the start of a new page of `target`:
// that page takes the source's first page setup (size, margins, headers and
// footers). The paragraph there keeps it when the content arrives.
void CarryPageStyle(OfficeServer::Impl& server, DocumentState& source, DocumentState& target,
                    const Reference<css::text::XTextRange>& landing);

}  // namespace pw::word
