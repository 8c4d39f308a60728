// Moving content between documents inside the office. This file is built
// into the program and into the agent that runs inside the office process, so
// it talks to documents only through their interfaces.

#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/document/XRedlinesSupplier.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/style/BreakType.hpp>
#include <com/sun/star/style/LineSpacing.hpp>
#include <com/sun/star/style/LineSpacingMode.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/ControlCharacter.hpp>
#include <com/sun/star/text/XBookmarksSupplier.hpp>
#include <com/sun/star/text/XParagraphAppend.hpp>
#include <com/sun/star/text/XParagraphCursor.hpp>
#include <com/sun/star/text/XRedline.hpp>
#include <com/sun/star/text/XRelativeTextContentInsert.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/util/DateTime.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include <vector>

#include "platform/office/word_state.h"

namespace pw::word {

using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
namespace text = css::text;

namespace {
int Clamp(sal_Int32 v) {
  return static_cast<int>(v);
}
}  // namespace

// Counts of one table: positions and characters of all its cells, every cell
// and row end counting as one position.
void MeasureTable(const Reference<text::XTextTable>& table, Block& block, std::string* out) {
  const auto names = table->getCellNames();
  int length = 0, chars = 0;
  for (const OUString& name : names) {
    Reference<text::XText> cell(table->getCellByName(name), UNO_QUERY);
    if (!cell.is()) continue;
    const OUString s = cell->getString();
    int breaks = 0;
    for (sal_Int32 i = 0; i < s.getLength(); ++i)
      if (s[i] == '\n') ++breaks;
    length += Clamp(s.getLength()) + 1;
    chars += Clamp(s.getLength()) - breaks;
    if (out) *out += std::string(OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr()) + "\n";
  }
  length += Clamp(table->getRows()->getCount());
  block.length = length;
  block.chars = chars;
}

void MapText(DocumentState& d) {
  d.blocks.clear();
  int pos = 0, chars = 0;
  Reference<css::container::XEnumerationAccess> access(d.body, UNO_QUERY_THROW);
  Reference<css::container::XEnumeration> items = access->createEnumeration();
  while (items->hasMoreElements()) {
    Block b;
    b.start = pos;
    Reference<css::uno::XInterface> item(items->nextElement(), UNO_QUERY);
    Reference<text::XTextTable> table(item, UNO_QUERY);
    if (table.is()) {
      b.table = item;
      MeasureTable(table, b, nullptr);
    } else {
      Reference<text::XTextRange> paragraph(item, UNO_QUERY);
      if (!paragraph.is()) continue;
      b.paragraph = paragraph;
      b.chars = Clamp(paragraph->getString().getLength());
      b.length = b.chars + 1;
    }
    pos += b.length;
    chars += b.chars;
    d.blocks.push_back(std::move(b));
  }
  d.length = pos;
  d.chars = chars;
  d.mapped = true;
}

// The block holding position `pos` (the last one when past the end).
static std::size_t BlockAt(const DocumentState& d, int pos) {
  auto it = std::upper_bound(d.blocks.begin(), d.blocks.end(), pos,
                             [](int p, const Block& b) { return p < b.start; });
  return it == d.blocks.begin() ? 0 : static_cast<std::size_t>(it - d.blocks.begin()) - 1;
}

// A collapsed text range at position `pos`. A position inside a table stands
// for the point after that table, so a table is never cut in two.
Reference<text::XTextRange> RangeAt(DocumentState& d, int pos) {
  if (pos <= 0 || d.blocks.empty()) return d.body->getStart();
  if (pos >= d.length) {
    Pad(d);
    return d.body->getEnd();
  }
  std::size_t i = BlockAt(d, pos);
  if (d.blocks[i].table.is()) {
    while (i < d.blocks.size() && !d.blocks[i].paragraph.is()) ++i;
    if (i == d.blocks.size()) return d.body->getEnd();
    return d.blocks[i].paragraph->getStart();
  }
  const Block& b = d.blocks[i];
  const int offset = pos - b.start;
  if (offset == 0) return b.paragraph->getStart();
  Reference<text::XTextCursor> cursor = d.body->createTextCursorByRange(b.paragraph->getStart());
  cursor->goRight(static_cast<sal_Int16>(std::min(offset, 32767)), false);
  for (int left = offset - 32767; left > 0; left -= 32767)
    cursor->goRight(static_cast<sal_Int16>(std::min(left, 32767)), false);
  return cursor->getStart();
}

int PositionOf(DocumentState& d, const Reference<text::XTextRange>& range, int depth) {
  if (!range.is()) return 0;
  Reference<text::XText> owner = range->getText();
  if (!owner.is()) return 0;
  if (owner == d.body) {
    Reference<text::XTextRangeCompare> compare(d.body, UNO_QUERY_THROW);
    // Last paragraph starting at or before the range.
    std::size_t lo = 0, hi = d.blocks.size(), found = d.blocks.size();
    while (lo < hi) {
      std::size_t mid = (lo + hi) / 2;
      std::size_t p = mid;
      while (p < hi && !d.blocks[p].paragraph.is()) ++p;
      if (p == hi) {
        hi = mid;
        continue;
      }
      if (compare->compareRegionStarts(d.blocks[p].paragraph, range) >= 0) {
        found = p;
        lo = p + 1;
      } else {
        hi = mid;
      }
    }
    if (found == d.blocks.size()) return 0;
    const Block& b = d.blocks[found];
    Reference<text::XTextCursor> cursor = d.body->createTextCursorByRange(b.paragraph->getStart());
    cursor->gotoRange(range->getStart(), true);
    return b.start + std::min(Clamp(cursor->getString().getLength()), b.chars);
  }
  if (depth > 8) return 0;
  // Inside a table (or a frame): the position after that table, as RangeAt reads it.
  Reference<text::XTextCursor> cursor = owner->createTextCursorByRange(range->getStart());
  Reference<css::beans::XPropertySet> props(cursor, UNO_QUERY_THROW);
  Reference<text::XTextContent> table(props->getPropertyValue("TextTable"), UNO_QUERY);
  if (!table.is()) table.set(props->getPropertyValue("TextFrame"), UNO_QUERY);
  if (!table.is()) return 0;
  const Reference<css::uno::XInterface> key(table, UNO_QUERY);
  for (const Block& b : d.blocks)
    if (b.table.is() && b.table == key) return b.start + b.length;
  return PositionOf(d, table->getAnchor(), depth + 1);
}

void AttachParts(DocumentState& d, const Reference<css::lang::XComponent>& component) {
  d.component = component;
  d.model.set(component, UNO_QUERY);
  if (!d.model.is()) return;
  d.body = d.model->getText();
  d.controller = Reference<css::frame::XModel>(component, UNO_QUERY_THROW)->getCurrentController();
  d.view =
      Reference<css::text::XTextViewCursorSupplier>(d.controller, UNO_QUERY_THROW)->getViewCursor();
}

void Pad(DocumentState& d) {
  if (d.padded || d.added) return;
  Reference<css::text::XParagraphAppend>(d.body, UNO_QUERY_THROW)->finishParagraph({});
  d.padded = true;
  d.mapped = false;
}

void SelectWholeStory(DocumentState& d) {
  Pad(d);
  // A text cursor of the main text, not the view cursor: that one stays
  // inside the section it starts in.
  Reference<css::text::XTextCursor> all = d.body->createTextCursor();
  all->gotoStart(false);
  all->gotoEnd(true);
  Reference<css::view::XSelectionSupplier>(d.controller, UNO_QUERY_THROW)
      ->select(css::uno::Any(all));
}

void MakeLow(const Reference<css::beans::XPropertySet>& paragraph) {
  css::style::LineSpacing low;
  low.Mode = css::style::LineSpacingMode::FIX;
  low.Height = 2;  // hundredths of a millimetre
  paragraph->setPropertyValue("ParaLineSpacing", css::uno::Any(low));
  paragraph->setPropertyValue("ParaTopMargin", css::uno::Any(sal_Int32(0)));
  paragraph->setPropertyValue("ParaBottomMargin", css::uno::Any(sal_Int32(0)));
  paragraph->setPropertyValue("CharHeight", css::uno::Any(1.0f));
}

void KeepSpacingAbove(const Reference<css::beans::XPropertySet>& paragraph) {
  static const OUString kBag = "ParaInteropGrabBag";
  if (!paragraph.is() || !paragraph->getPropertySetInfo()->hasPropertyByName(kBag)) return;
  css::uno::Sequence<css::beans::PropertyValue> bag;
  paragraph->getPropertyValue(kBag) >>= bag;
  std::vector<css::beans::PropertyValue> kept;
  for (const css::beans::PropertyValue& item : bag)
    if (item.Name != "ParaTopMarginBeforeAutoSpacing") kept.push_back(item);
  if (kept.size() == static_cast<std::size_t>(bag.getLength())) return;
  paragraph->setPropertyValue(kBag, css::uno::Any(css::uno::Sequence<css::beans::PropertyValue>(
                                        kept.data(), static_cast<sal_Int32>(kept.size()))));
}

bool IsLow(const Reference<css::uno::XInterface>& item) {
  Reference<css::beans::XPropertySet> props(item, UNO_QUERY);
  Reference<text::XTextRange> text(item, UNO_QUERY);
  Reference<css::lang::XServiceInfo> kind(item, UNO_QUERY);
  if (!props.is() || !text.is() || !kind.is() ||
      !kind->supportsService("com.sun.star.text.Paragraph") || !text->getString().isEmpty())
    return false;
  css::style::LineSpacing spacing;
  return (props->getPropertyValue("ParaLineSpacing") >>= spacing) &&
         spacing.Mode == css::style::LineSpacingMode::FIX && spacing.Height == 2;
}

void Settle(DocumentState& d, bool opened) {
  if (opened) {
    // A text cursor cannot stand before a table that opens the text, so such a
    // table would be left out of every selection: give it a paragraph to
    // follow. The document is never saved, so this stays in memory.
    Reference<css::container::XEnumeration> items =
        Reference<css::container::XEnumerationAccess>(d.body, UNO_QUERY_THROW)->createEnumeration();
    if (items->hasMoreElements()) {
      Reference<css::text::XTextContent> first(items->nextElement(), UNO_QUERY);
      if (Reference<css::text::XTextTable>(first, UNO_QUERY).is()) {
        Reference<css::text::XTextContent> paragraph(
            Reference<css::lang::XMultiServiceFactory>(d.model, UNO_QUERY_THROW)
                ->createInstance("com.sun.star.text.Paragraph"),
            UNO_QUERY_THROW);
        Reference<css::text::XRelativeTextContentInsert>(d.body, UNO_QUERY_THROW)
            ->insertTextContentBefore(paragraph, first);
        // It takes no room: the pages stay as the file has them.
        Reference<css::text::XTextCursor> start = d.body->createTextCursor();
        start->gotoStart(false);
        MakeLow(Reference<css::beans::XPropertySet>(start, UNO_QUERY_THROW));
      }
    }
  }
  d.view->gotoStart(false);
}

namespace {

// A tracked change of the source, marked there by a bookmark that travels
// with the pasted content: around an insertion, and where a deletion starts
// (the office leaves deleted text out of what it copies).
struct Change {
  OUString mark;
  bool deletion = false;  // marked by the character after it
  bool markAfter = true;  // or, at the very end, by the one before it
  OUString deleted;       // the deleted words, paragraph ends as '\n'
  css::uno::Sequence<css::beans::PropertyValue> info;
  css::uno::Sequence<css::uno::Any> look;  // of the deleted words
};

const css::uno::Sequence<OUString>& DeletedLookKeys() {
  static const css::uno::Sequence<OUString> keys = [] {
    const char* const names[] = {"CharColor",     "CharFontName", "CharFontNameAsian",
                                 "CharHeight",    "CharPosture",  "CharStrikeout",
                                 "CharUnderline", "CharWeight"};  // sorted
    css::uno::Sequence<OUString> seq(static_cast<sal_Int32>(std::size(names)));
    for (sal_Int32 i = 0; i < seq.getLength(); ++i)
      seq.getArray()[i] = OUString::createFromAscii(names[i]);
    return seq;
  }();
  return keys;
}

// Whether `range` lies within `within` (both of the main text).
bool Inside(const Reference<text::XTextRangeCompare>& compare,
            const Reference<text::XTextRange>& within, const Reference<text::XTextRange>& range) {
  try {
    return compare->compareRegionStarts(within, range) >= 0 &&
           compare->compareRegionEnds(within, range) <= 0;
  } catch (const css::lang::IllegalArgumentException&) {
    return false;  // another text: a header, a cell, a frame
  }
}

// Marks the tracked changes of `source` that lie in `selected`; counts in
// `lost` those that cannot travel as changes (formatting, table and
// paragraph-attribute changes, and any outside the main text).
std::vector<Change> MarkChanges(DocumentState& source, const Reference<text::XTextRange>& selected,
                                int& lost) {
  std::vector<Change> changes;
  Reference<css::document::XRedlinesSupplier> supplier(source.model, UNO_QUERY);
  if (!supplier.is() || !selected.is()) return changes;
  Reference<css::container::XEnumeration> redlines =
      Reference<css::container::XEnumerationAccess>(supplier->getRedlines(), UNO_QUERY_THROW)
          ->createEnumeration();
  Reference<css::container::XNameAccess> marks =
      Reference<text::XBookmarksSupplier>(source.model, UNO_QUERY_THROW)->getBookmarks();
  Reference<css::lang::XMultiServiceFactory> factory(source.model, UNO_QUERY_THROW);
  Reference<text::XTextRangeCompare> compare(source.body, UNO_QUERY_THROW);
  const OUString tag =
      "PwChange" + OUString::number(reinterpret_cast<sal_IntPtr>(source.model.get()), 36) + "_";
  for (sal_Int32 n = 0; redlines->hasMoreElements(); ++n) {
    Reference<css::beans::XPropertySet> redline(redlines->nextElement(), UNO_QUERY);
    if (!redline.is()) continue;
    Reference<text::XTextRange> start(redline->getPropertyValue("RedlineStart"), UNO_QUERY);
    Reference<text::XTextRange> end(redline->getPropertyValue("RedlineEnd"), UNO_QUERY);
    if (!start.is() || !end.is()) continue;
    const bool inBody = start->getText() == source.body && end->getText() == source.body;
    // Some imports give a change's edges the other way round.
    if (inBody && compare->compareRegionStarts(start, end) < 0) std::swap(start, end);
    if (inBody && !Inside(compare, selected, start)) continue;
    OUString type;
    redline->getPropertyValue("RedlineType") >>= type;
    Reference<text::XTextCursor> span;
    if (inBody) {
      span = source.body->createTextCursorByRange(start->getStart());
      span->gotoRange(end->getEnd(), true);
    }
    Change c;
    c.deletion = type == "Delete";
    if (!inBody || (type != "Insert" && !c.deletion)) {
      ++lost;
      continue;
    }
    if (c.deletion) {
      c.deleted = span->getString();
      // Deleted tables or pictures have no words to stand for them.
      Reference<css::container::XEnumeration> parts =
          Reference<css::container::XEnumerationAccess>(span, UNO_QUERY_THROW)->createEnumeration();
      bool objects = false;
      while (parts->hasMoreElements())
        if (Reference<text::XTextTable>(parts->nextElement(), UNO_QUERY).is()) objects = true;
      if (objects || c.deleted.isEmpty()) {
        ++lost;
        continue;
      }
      Reference<text::XTextCursor> first = source.body->createTextCursorByRange(start->getStart());
      first->goRight(1, true);
      try {
        c.look = Reference<css::beans::XMultiPropertySet>(first, UNO_QUERY_THROW)
                     ->getPropertyValues(DeletedLookKeys());
      } catch (const css::uno::RuntimeException&) {
      }
    }
    OUString author, comment;
    css::util::DateTime when;
    redline->getPropertyValue("RedlineAuthor") >>= author;
    redline->getPropertyValue("RedlineDateTime") >>= when;
    redline->getPropertyValue("RedlineComment") >>= comment;
    c.info = css::uno::Sequence<css::beans::PropertyValue>(3);
    auto* info = c.info.getArray();
    info[0].Name = "RedlineAuthor";
    info[0].Value <<= author;
    info[1].Name = "RedlineDateTime";
    info[1].Value <<= when;
    info[2].Name = "RedlineComment";
    info[2].Value <<= comment;
    c.mark = tag + OUString::number(n);
    Reference<text::XTextCursor> by = span;
    if (c.deletion) {
      // A mark inside the deleted words would go with them.
      by = source.body->createTextCursorByRange(end->getEnd());
      c.markAfter = by->goRight(1, true);
      if (!c.markAfter) {
        by->gotoRange(start->getStart(), false);
        by->goLeft(1, true);
      }
    }
    if (!marks->hasByName(c.mark)) {
      Reference<text::XTextContent> mark(factory->createInstance("com.sun.star.text.Bookmark"),
                                         UNO_QUERY_THROW);
      Reference<css::container::XNamed>(mark, UNO_QUERY_THROW)->setName(c.mark);
      source.body->insertTextContent(Reference<text::XTextRange>(by.get()), mark, true);
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

// Makes the marked changes in `target` changes again, and drops the marks.
void RestoreChanges(DocumentState& target, const std::vector<Change>& changes, int& lost) {
  if (changes.empty()) return;
  Reference<css::container::XNameAccess> marks =
      Reference<text::XBookmarksSupplier>(target.model, UNO_QUERY_THROW)->getBookmarks();
  for (const Change& c : changes) {
    if (!marks->hasByName(c.mark)) continue;  // outside what was pasted
    Reference<text::XTextContent> mark(marks->getByName(c.mark), UNO_QUERY_THROW);
    Reference<text::XTextRange> at = mark->getAnchor();
    Reference<text::XText> text = at->getText();
    Reference<text::XTextCursor> span = text->createTextCursorByRange(at);
    if (c.deletion) {
      span->collapseToStart();
      const Reference<text::XTextRange> here(span.get());
      const OUString words = c.deleted.replaceAll("\r\n", "\n").replace('\r', '\n');
      sal_Int32 begin = 0;
      for (sal_Int32 i = 0; i <= words.getLength(); ++i) {
        if (i < words.getLength() && words[i] != '\n') continue;
        if (i > begin) text->insertString(here, words.copy(begin, i - begin), false);
        if (i < words.getLength())
          text->insertControlCharacter(here, text::ControlCharacter::PARAGRAPH_BREAK, false);
        begin = i + 1;
      }
      // The cursor went on behind the words: take them in, back to where they start.
      span = text->createTextCursorByRange(here->getEnd());
      for (sal_Int32 left = words.getLength(); left > 0; left -= 32767)
        span->goLeft(static_cast<sal_Int16>(std::min<sal_Int32>(left, 32767)), true);
      if (c.look.hasElements()) {
        try {
          Reference<css::beans::XMultiPropertySet>(span, UNO_QUERY_THROW)
              ->setPropertyValues(DeletedLookKeys(), c.look);
        } catch (const css::uno::Exception&) {
        }
      }
    }
    Reference<css::lang::XComponent>(mark, UNO_QUERY_THROW)->dispose();
    try {
      Reference<text::XRedline>(span, UNO_QUERY_THROW)
          ->makeRedline(c.deletion ? OUString("Delete") : OUString("Insert"), c.info);
    } catch (const css::uno::Exception&) {
      ++lost;
    }
  }
}

// Links of a table of contents show in the index's own link style. Cut out
// of their index they are plain links, which a saved Word document gives the
// underlined link style when it is opened again: they keep the look they
// have as formatting of their own.
void KeepLinkLooks(DocumentState& d) {
  const Reference<css::container::XEnumeration> paragraphs =
      Reference<css::container::XEnumerationAccess>(d.body, UNO_QUERY_THROW)->createEnumeration();
  while (paragraphs->hasMoreElements()) {
    Reference<css::container::XEnumerationAccess> paragraph(paragraphs->nextElement(), UNO_QUERY);
    Reference<css::lang::XServiceInfo> info(paragraph, UNO_QUERY);
    if (!paragraph.is() || !info.is() || !info->supportsService("com.sun.star.text.Paragraph"))
      continue;
    const Reference<css::container::XEnumeration> portions = paragraph->createEnumeration();
    while (portions->hasMoreElements()) {
      Reference<css::beans::XPropertySet> portion(portions->nextElement(), UNO_QUERY);
      if (!portion.is()) continue;
      OUString url, style;
      portion->getPropertyValue("HyperLinkURL") >>= url;
      if (url.isEmpty()) continue;
      portion->getPropertyValue("UnvisitedCharStyleName") >>= style;
      if (style.isEmpty() || style == "Internet link") continue;
      for (const char* key : {"CharUnderline", "CharColor"}) {
        const OUString name = OUString::createFromAscii(key);
        portion->setPropertyValue(name, portion->getPropertyValue(name));
      }
    }
  }
}

}  // namespace

int PasteContent(DocumentState& source, DocumentState& target, const css::uno::Any& selection) {
  const bool same = source.model == target.model;
  Reference<css::text::XTextCursor> landing =
      target.body->createTextCursorByRange(target.view->getStart());
  const bool newPage = [&] {
    if (target.fresh) return true;
    Reference<css::beans::XPropertySet> props(landing, UNO_QUERY_THROW);
    css::style::BreakType type = css::style::BreakType_NONE;
    props->getPropertyValue("BreakType") >>= type;
    OUString desc;
    props->getPropertyValue("PageDescName") >>= desc;
    return type == css::style::BreakType_PAGE_BEFORE || !desc.isEmpty();
  }();
  if (newPage && !same) {
    // A selection is a range, or a list of ranges whose first one leads.
    Reference<css::text::XTextRange> from(selection, UNO_QUERY);
    Reference<css::container::XIndexAccess> ranges(selection, UNO_QUERY);
    if (!from.is() && ranges.is() && ranges->getCount() > 0)
      from.set(ranges->getByIndex(0), UNO_QUERY);
    CarryPageStyle(source, target, Reference<css::text::XTextRange>(landing.get()), from);
  }
  int lost = 0;
  std::vector<Change> changes;
  if (!same) {
    Reference<css::text::XTextRange> selected(selection, UNO_QUERY);
    Reference<css::container::XIndexAccess> ranges(selection, UNO_QUERY);
    if (!selected.is() && ranges.is() && ranges->getCount() > 0)
      selected.set(ranges->getByIndex(0), UNO_QUERY);
    changes = MarkChanges(source, selected, lost);
  }
  // A selection that starts inside a paragraph of the main text lands in the
  // empty paragraph a fresh document starts with, which keeps its own look.
  Reference<css::beans::XPropertySet> runsOn;
  if (!same && target.fresh) {
    Reference<css::text::XTextRange> selected(selection, UNO_QUERY);
    Reference<css::container::XIndexAccess> ranges(selection, UNO_QUERY);
    if (!selected.is() && ranges.is() && ranges->getCount() > 0)
      selected.set(ranges->getByIndex(0), UNO_QUERY);
    if (selected.is() && selected->getText() == source.body) {
      Reference<css::text::XParagraphCursor> at(
          source.body->createTextCursorByRange(selected->getStart()), UNO_QUERY);
      // The paragraph itself: a cursor tells only the text's own values apart.
      if (at.is() && !at->isStartOfParagraph())
        runsOn.set(Reference<css::beans::XPropertySet>(at, UNO_QUERY_THROW)
                       ->getPropertyValue("TextParagraph"),
                   UNO_QUERY);
    }
  }
  // How many paragraphs and tables the document holds before the content:
  // its first paragraph lands in the last of them or comes right after.
  auto count = [&] {
    std::size_t n = 0;
    Reference<css::container::XEnumeration> items =
        Reference<css::container::XEnumerationAccess>(target.body, UNO_QUERY_THROW)
            ->createEnumeration();
    for (; items->hasMoreElements(); items->nextElement()) ++n;
    return n;
  };
  const std::size_t before = newPage && !same && !target.fresh ? count() : 0;
  Reference<css::view::XSelectionSupplier>(source.controller, UNO_QUERY_THROW)->select(selection);
  Reference<css::datatransfer::XTransferable> content =
      Reference<css::datatransfer::XTransferableSupplier>(source.controller, UNO_QUERY_THROW)
          ->getTransferable();
  Reference<css::datatransfer::XTransferableSupplier>(target.controller, UNO_QUERY_THROW)
      ->insertTransferable(content);
  if (runsOn.is()) {
    Reference<css::text::XTextCursor> first = target.body->createTextCursor();
    first->gotoStart(false);
    Reference<css::beans::XPropertySet> landed(
        Reference<css::beans::XPropertySet>(first, UNO_QUERY_THROW)
            ->getPropertyValue("TextParagraph"),
        UNO_QUERY);
    if (landed.is()) CarryParagraphLook(source, target, runsOn, landed);
  }
  if (before > 0) {
    // The content's first paragraph starts a page of its own, as it started
    // its document.
    Reference<css::container::XEnumeration> items =
        Reference<css::container::XEnumerationAccess>(target.body, UNO_QUERY_THROW)
            ->createEnumeration();
    for (std::size_t i = 0; i <= before && items->hasMoreElements(); ++i) {
      const css::uno::Any item = items->nextElement();
      if (i + 1 >= before) KeepSpacingAbove(Reference<css::beans::XPropertySet>(item, UNO_QUERY));
    }
  }
  if (!same && target.fresh) KeepLinkLooks(target);
  RestoreChanges(target, changes, lost);
  return lost;
}

}  // namespace pw::word
