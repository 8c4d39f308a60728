#pragma once
// What the word-processor model keeps of one document (this folder only).

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/text/XTextTable.hpp>
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

  // The pages that hold something, by their number in the layout: a page the
  // layout adds blank (so that a section starts on a right-hand page) is
  // left out, as a printout leaves it out. Valid for `pagesGeneration`.
  std::vector<int> pages;
  int pagesGeneration = -1;

  bool locked = false;  // its views are locked (documents made by Add)
  bool laidOut = false;
  bool mapped = false;
  int generation = 0;       // bumped whenever the text changes
  bool agentKnows = false;  // the agent keeps a map of this document
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
void PrepareStyles(DocumentState& source, DocumentState& target);

// Gives `to`, a paragraph of `target`, the paragraph style and the paragraph's
// own formatting of `from`, a paragraph of `source`: content pasted from the
// middle of a paragraph runs on in the paragraph it lands in, and would take
// that one's look. The style is brought over when `target` lacks it.
void CarryParagraphLook(DocumentState& source, DocumentState& target,
                        const Reference<css::beans::XPropertySet>& from,
                        const Reference<css::beans::XPropertySet>& to);

// Content from `from` (the start of the text when empty) about to land at
// `landing`, the start of a new page of `target`: that page takes the source's
// page setup in force at `from` (size, margins, headers and footers). The
// paragraph there keeps it when the content arrives.
void CarryPageStyle(DocumentState& source, DocumentState& target,
                    const Reference<css::text::XTextRange>& landing,
                    const Reference<css::text::XTextRange>& from = {});

// Pastes `selection` of `source` at the view cursor of `target`, with its
// formatting and, when it starts a new page, its page setup; styles must have
// been prepared. Goes from document to document inside the office, never
// through the system clipboard. `source` and `target` may be one document.
// Tracked insertions and deletions stay tracked changes; answers how many
// other tracked changes could not (they arrive as if accepted).
int PasteContent(DocumentState& source, DocumentState& target, const css::uno::Any& selection);

// Counts of one table: positions and characters of all its cells, every cell
// and row end counting as one position; its cells' text goes to `out` when given.
void MeasureTable(const Reference<css::text::XTextTable>& table, Block& block, std::string* out);

// Maps the main text into blocks with their positions.
void MapText(DocumentState& d);

// A collapsed text range at position `pos` of a mapped document. A position
// inside a table stands for the point after that table, so a table is never
// cut in two; a position at the end pads the document first.
Reference<css::text::XTextRange> RangeAt(DocumentState& d, int pos);

// The position of `range` in a mapped document, as RangeAt reads positions.
int PositionOf(DocumentState& d, const Reference<css::text::XTextRange>& range, int depth = 0);

// An empty paragraph after the last one (opened documents only; they are never
// saved). A selection that ends inside the last paragraph would lose that
// paragraph's attributes when pasted; ending it in this one keeps them.
void Pad(DocumentState& d);

// Selects the whole main text, padded first.
void SelectWholeStory(DocumentState& d);

// Makes a paragraph take as little room as a paragraph can: a line of a
// fiftieth of a millimetre, no spacing.
void MakeLow(const Reference<css::beans::XPropertySet>& paragraph);
// A paragraph with automatic spacing above (a Word document's "auto")
// shows what its place gave it: none as the first paragraph of a document
// or a cell. Saved as automatic, the spacing would be worked out anew where
// the paragraph now stands: it keeps what it shows instead.
void KeepSpacingAbove(const Reference<css::beans::XPropertySet>& paragraph);
// Whether `item` is an empty paragraph made low by MakeLow.
bool IsLow(const Reference<css::uno::XInterface>& item);

// Readies a document just opened from a file (`opened`) or made: a table that
// opens an opened document's text gets a paragraph before it, and the view
// cursor goes to the start.
void Settle(DocumentState& d, bool opened);

// The parts of `state` that follow from its component: model, text, controller
// and view cursor.
void AttachParts(DocumentState& state, const Reference<css::lang::XComponent>& component);

}  // namespace pw::word
