// Keeping each pasted document's look. Content refers to its styles by name,
// and when both documents have a style of that name the target's definition
// wins; so clashing styles are given names of their own in the source (which
// is never saved) before its content is taken.

#include <com/sun/star/beans/PropertyAttribute.hpp>
#include <com/sun/star/beans/UnknownPropertyException.hpp>
#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertyState.hpp>
#include <com/sun/star/container/XContentEnumerationAccess.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/document/XActionLockable.hpp>
#include <com/sun/star/drawing/FillStyle.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/style/XStyle.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XParagraphCursor.hpp>
#include <com/sun/star/text/XRelativeTextContentInsert.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/util/XSearchable.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "platform/office/word_state.h"

namespace pw::word {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

Reference<css::container::XNameAccess> Family(DocumentState& d, const char* name) {
  Reference<css::container::XNameAccess> families =
      Reference<css::style::XStyleFamiliesSupplier>(d.model, UNO_QUERY_THROW)->getStyleFamilies();
  return Reference<css::container::XNameAccess>(
      families->getByName(OUString::createFromAscii(name)), UNO_QUERY_THROW);
}

// A name that neither document uses in the family.
OUString FreeName(const OUString& base, int number, const Reference<css::container::XNameAccess>& a,
                  const Reference<css::container::XNameAccess>& b) {
  for (int k = number;; ++k) {
    OUString name = base + " (" + OUString::number(k) + ")";
    if (!a->hasByName(name) && !b->hasByName(name)) return name;
  }
}

// Copies every writable property that both sets know, the values as `from`
// resolves them (inherited ones included).
void CopyProperties(const Reference<css::beans::XPropertySet>& from,
                    const Reference<css::beans::XPropertySet>& to, const std::set<OUString>& skip,
                    bool textOnly = false) {
  const auto props = from->getPropertySetInfo()->getProperties();
  const auto target = to->getPropertySetInfo();
  // An area fill's bitmap, gradient or hatch matters only when the fill is of
  // that kind, and setting a bitmap costs a tenth of a second even when empty.
  std::vector<OUString> unused;
  for (const char* area : {"Fill", "HeaderFill", "FooterFill"}) {
    const OUString style = OUString::createFromAscii(area) + "Style";
    if (!from->getPropertySetInfo()->hasPropertyByName(style)) continue;
    css::drawing::FillStyle kind = css::drawing::FillStyle_NONE;
    from->getPropertyValue(style) >>= kind;
    if (kind != css::drawing::FillStyle_BITMAP)
      unused.push_back(OUString::createFromAscii(area) + "Bitmap");
    if (kind != css::drawing::FillStyle_GRADIENT)
      unused.push_back(OUString::createFromAscii(area) + "Gradient");
    if (kind != css::drawing::FillStyle_HATCH)
      unused.push_back(OUString::createFromAscii(area) + "Hatch");
  }
  auto isUnused = [&](const OUString& name) {
    for (const OUString& prefix : unused)
      if (name.startsWith(prefix)) return true;
    return false;
  };
  std::vector<OUString> names;
  for (const auto& p : props)
    if (!(p.Attributes & css::beans::PropertyAttribute::READONLY) && !skip.count(p.Name) &&
        (!textOnly || p.Name.startsWith("Char") || p.Name.startsWith("Para") ||
         p.Name.indexOf("Border") >= 0 || p.Name == "OutlineLevel" ||
         p.Name == "NumberingStyleName") &&
        !isUnused(p.Name) && target->hasPropertyByName(p.Name))
      names.push_back(p.Name);
  const Sequence<OUString> seq(names.data(), static_cast<sal_Int32>(names.size()));
  Sequence<Any> values;
  try {
    values =
        Reference<css::beans::XMultiPropertySet>(from, UNO_QUERY_THROW)->getPropertyValues(seq);
  } catch (const css::uno::RuntimeException&) {
    values.realloc(seq.getLength());
    for (sal_Int32 i = 0; i < seq.getLength(); ++i) {
      try {
        values.getArray()[i] = from->getPropertyValue(seq[i]);
      } catch (const css::uno::Exception&) {
      }
    }
  }
  // Only values that are there; one call when the set takes them all.
  std::vector<OUString> setNames;
  std::vector<Any> setValues;
  for (sal_Int32 i = 0; i < seq.getLength(); ++i)
    if (values[i].hasValue()) {
      setNames.push_back(seq[i]);
      setValues.push_back(values[i]);
    }
  try {
    Reference<css::beans::XMultiPropertySet>(to, UNO_QUERY_THROW)
        ->setPropertyValues(
            Sequence<OUString>(setNames.data(), static_cast<sal_Int32>(setNames.size())),
            Sequence<Any>(setValues.data(), static_cast<sal_Int32>(setValues.size())));
    return;
  } catch (const css::uno::Exception&) {
  }
  for (sal_Int32 i = 0; i < seq.getLength(); ++i) {
    if (!values[i].hasValue()) continue;
    try {
      to->setPropertyValue(seq[i], values[i]);
    } catch (const css::uno::Exception&) {
    }
  }
}

const std::set<OUString>& StyleSkip() {
  // The interop bags hold the theme a font came from, which a saved .docx
  // would name without the theme itself: the font then falls back to any.
  static const std::set<OUString> skip = {
      "FollowStyle",        "DisplayName",         "Hidden",
      "IsPhysical",         "ParentStyle",         "StyleInteropGrabBag",
      "Category",           "ParaStyleConditions", "IsAutoUpdate",
      "CharInteropGrabBag", "ParaInteropGrabBag"};
  return skip;
}

// What decides how a page style looks, with its header and footer texts.
const Sequence<OUString>& PageLookKeys() {
  static const Sequence<OUString> keys = [] {
    const char* const names[] = {"BottomMargin", "FirstIsShared",  "FooterIsOn", "FooterIsShared",
                                 "HeaderIsOn",   "HeaderIsShared", "Height",     "IsLandscape",
                                 "LeftMargin",   "RightMargin",    "TopMargin",  "Width"};
    // sorted, as property sets want them
    Sequence<OUString> seq(static_cast<sal_Int32>(std::size(names)));
    for (sal_Int32 i = 0; i < seq.getLength(); ++i)
      seq.getArray()[i] = OUString::createFromAscii(names[i]);
    return seq;
  }();
  return keys;
}

// What decides how a paragraph style looks.
const Sequence<OUString>& LookKeys() {
  static const Sequence<OUString> keys = [] {
    const char* const names[] = {
        "BottomBorder",      "BreakType",       "CharColor",        "CharFontName",
        "CharFontNameAsian", "CharHeight",      "CharHeightAsian",  "CharPosture",
        "CharUnderline",     "CharWeight",      "LeftBorder",       "NumberingStyleName",
        "ParaAdjust",        "ParaBackColor",   "ParaBottomMargin", "ParaFirstLineIndent",
        "ParaLeftMargin",    "ParaLineSpacing", "ParaRightMargin",  "ParaTabStops",
        "ParaTopMargin",     "RightBorder",     "TopBorder"};  // sorted, as property sets want them
    Sequence<OUString> seq(static_cast<sal_Int32>(std::size(names)));
    for (sal_Int32 i = 0; i < seq.getLength(); ++i)
      seq.getArray()[i] = OUString::createFromAscii(names[i]);
    return seq;
  }();
  return keys;
}

Sequence<Any> LookOf(const Reference<css::beans::XPropertySet>& style) {
  try {
    return Reference<css::beans::XMultiPropertySet>(style, UNO_QUERY_THROW)
        ->getPropertyValues(LookKeys());
  } catch (const css::uno::RuntimeException&) {
    return {};
  }
}

// The paragraph styles of `mine` that `theirs` has too and that are in use
// anywhere in their document: main text, table cells, headers, footers, frames.
std::set<OUString> SharedParagraphStyles(const Reference<css::container::XNameAccess>& mine,
                                         const Reference<css::container::XNameAccess>& theirs) {
  const Sequence<OUString> names = theirs->getElementNames();
  const std::set<OUString> known(names.begin(), names.end());
  std::set<OUString> used;
  const Sequence<OUString> own = mine->getElementNames();
  for (const OUString& name : own) {
    if (!known.count(name)) continue;
    Reference<css::style::XStyle> style(mine->getByName(name), UNO_QUERY);
    if (style.is() && style->isInUse()) used.insert(name);
  }
  return used;
}

// Gives `paragraph` the style `style` and keeps what the paragraph set on
// itself, which the office drops in part. `names` (empty at first) keeps the
// keys a paragraph may set, for the next call.
void SetStyleKeepingOwn(const Reference<css::beans::XPropertySet>& paragraph, const OUString& style,
                        Sequence<OUString>& names) {
  Reference<css::beans::XPropertyState> state(paragraph, UNO_QUERY);
  Reference<css::beans::XMultiPropertySet> multi(paragraph, UNO_QUERY);
  if (!state.is() || !multi.is()) {
    paragraph->setPropertyValue("ParaStyleName", Any(style));
    return;
  }
  if (!names.hasElements()) {
    std::vector<OUString> writable;
    for (const auto& p : paragraph->getPropertySetInfo()->getProperties())
      if (!(p.Attributes & css::beans::PropertyAttribute::READONLY) && p.Name != "ParaStyleName" &&
          p.Name != "ParaConditionalStyleName")
        writable.push_back(p.Name);
    names = Sequence<OUString>(writable.data(), static_cast<sal_Int32>(writable.size()));
  }
  std::vector<OUString> own;
  try {
    const Sequence<css::beans::PropertyState> states = state->getPropertyStates(names);
    for (sal_Int32 k = 0; k < states.getLength(); ++k)
      if (states[k] == css::beans::PropertyState_DIRECT_VALUE) own.push_back(names[k]);
  } catch (const css::uno::Exception&) {
    own.clear();
  }
  const Sequence<OUString> keys(own.data(), static_cast<sal_Int32>(own.size()));
  const Sequence<Any> before = multi->getPropertyValues(keys);
  paragraph->setPropertyValue("ParaStyleName", Any(style));
  // Only what the new style changed goes back: setting a list again would
  // start a new one.
  const Sequence<Any> after = multi->getPropertyValues(keys);
  for (sal_Int32 k = 0; k < keys.getLength(); ++k) {
    if (!before[k].hasValue() || before[k] == after[k]) continue;
    try {
      paragraph->setPropertyValue(keys[k], before[k]);
    } catch (const css::uno::Exception&) {
    }
  }
}

// Gives every paragraph of `d` in style `from` the style `to`, table cells,
// headers and footers included. Giving a paragraph a style drops what was set
// on the paragraph itself (spacing, alignment, line height...), so each
// paragraph gets back what it had on its own.
void Restyle(DocumentState& d, const Reference<css::beans::XPropertySet>& from,
             const OUString& to) {
  OUString shown;
  from->getPropertyValue("DisplayName") >>= shown;
  Reference<css::util::XSearchable> searchable(d.model, UNO_QUERY_THROW);
  Reference<css::util::XSearchDescriptor> search = searchable->createSearchDescriptor();
  search->setSearchString(shown);
  search->setPropertyValue("SearchStyles", Any(true));
  const Reference<css::container::XIndexAccess> found = searchable->findAll(search);
  // One layout after all paragraphs changed, not one after each.
  struct Held {
    Reference<css::document::XActionLockable> lock;
    decltype(DocumentState::model) model;
    ~Held() {
      try {
        if (lock.is()) lock->removeActionLock();
        model->unlockControllers();
      } catch (const css::uno::Exception&) {
      }
    }
  } held{Reference<css::document::XActionLockable>(d.model, UNO_QUERY), d.model};
  d.model->lockControllers();
  if (held.lock.is()) held.lock->addActionLock();
  Sequence<OUString> names;
  const sal_Int32 count = found.is() ? found->getCount() : 0;
  for (sal_Int32 i = 0; i < count; ++i) {
    Reference<css::container::XEnumerationAccess> range(found->getByIndex(i), UNO_QUERY);
    if (!range.is()) continue;
    const Reference<css::container::XEnumeration> paragraphs = range->createEnumeration();
    while (paragraphs->hasMoreElements()) {
      Reference<css::beans::XPropertySet> paragraph(paragraphs->nextElement(), UNO_QUERY);
      if (paragraph.is()) SetStyleKeepingOwn(paragraph, to, names);
    }
  }
}

void SeparateStyles(DocumentState& source, DocumentState& target, int number) {
  static const char* const families[] = {"NumberingStyles", "CharacterStyles", "ParagraphStyles",
                                         "PageStyles"};
  if (target.builtinStyles.empty()) {
    // A document made by Add holds only the built-in styles until the first paste.
    for (const char* family : families) {
      const Sequence<OUString> names = Family(target, family)->getElementNames();
      target.builtinStyles[family] = std::set<OUString>(names.begin(), names.end());
    }
  }
  Reference<css::lang::XMultiServiceFactory> factory(source.model, UNO_QUERY_THROW);
  for (const char* family : families) {
    Reference<css::container::XNameAccess> mine = Family(source, family);
    Reference<css::container::XNameAccess> theirs = Family(target, family);
    const std::set<OUString>& builtin = target.builtinStyles[family];
    const bool paragraphs = std::string(family) == "ParagraphStyles";
    std::set<OUString> candidates;
    if (paragraphs) {
      candidates = SharedParagraphStyles(mine, theirs);
    } else {
      // Styles of other documents pasted before; built-in ones keep their names.
      const Sequence<OUString> names = theirs->getElementNames();
      for (const OUString& name : names)
        if (!builtin.count(name)) candidates.insert(name);
    }
    for (const OUString& name : candidates) {
      if (!mine->hasByName(name) || !theirs->hasByName(name)) continue;
      Reference<css::style::XStyle> style(mine->getByName(name), UNO_QUERY);
      if (!style.is()) continue;
      Reference<css::beans::XPropertySet> props(style, UNO_QUERY_THROW);
      Sequence<Any> look;
      if (paragraphs) {
        auto& cache = target.styleLooks[name];
        if (!cache.hasElements())
          cache =
              LookOf(Reference<css::beans::XPropertySet>(theirs->getByName(name), UNO_QUERY_THROW));
        look = LookOf(props);
        if (look == cache) continue;
      } else if (!style->isInUse()) {
        continue;
      }
      // A look already brought in by an earlier document keeps its name, so
      // documents made from one template share their styles in the result.
      OUString fresh;
      bool known = false;
      if (paragraphs) {
        for (const auto& [base, forkLook, forkName] : target.forks)
          if (base == name && forkLook == look && !mine->hasByName(forkName)) {
            fresh = forkName;
            known = true;
            break;
          }
      }
      // A copy this source holds already, made for an earlier part: the
      // source is cut into many parts, and its styles are those it had.
      OUString made;
      const bool renamed = !builtin.count(name) && style->isUserDefined();
      if (paragraphs && !known && !renamed)
        for (const OUString& other : mine->getElementNames()) {
          if (!other.startsWith(name + " (") || !other.endsWith(")")) continue;
          Reference<css::style::XStyle> copy(mine->getByName(other), UNO_QUERY);
          if (copy.is() && copy->getParentStyle() == name &&
              LookOf(Reference<css::beans::XPropertySet>(copy, UNO_QUERY_THROW)) == look) {
            made = other;
            break;
          }
        }
      if (!known) fresh = made.isEmpty() ? FreeName(name, number, mine, theirs) : made;
      if (paragraphs && !known) target.forks.emplace_back(name, look, fresh);
      if (renamed) {
        // Renaming carries every use of the style along.
        Reference<css::container::XNamed>(style, UNO_QUERY_THROW)->setName(fresh);
      } else if (paragraphs) {
        if (made.isEmpty()) {
          Reference<css::beans::XPropertySet> copy(
              factory->createInstance("com.sun.star.style.ParagraphStyle"), UNO_QUERY_THROW);
          Reference<css::container::XNameContainer>(mine, UNO_QUERY_THROW)
              ->insertByName(fresh, Any(copy));
          Reference<css::style::XStyle>(copy, UNO_QUERY_THROW)->setParentStyle(name);
          // The result already holds a style of this name and look.
          if (!known) CopyProperties(props, copy, StyleSkip(), true);
        }
        Restyle(source, props, fresh);
        // Styles built on this one that the result lacks would come in built
        // on the result's own: built on the copy, they keep what they inherit.
        const Sequence<OUString> all = mine->getElementNames();
        for (const OUString& child : all) {
          if (child == fresh || theirs->hasByName(child)) continue;
          Reference<css::style::XStyle> heir(mine->getByName(child), UNO_QUERY);
          if (heir.is() && heir->getParentStyle() == name) heir->setParentStyle(fresh);
        }
      }
    }
  }
}

const Sequence<OUString>& FontKeys() {
  static const Sequence<OUString> keys = [] {
    const char* const names[] = {"CharColor",     "CharFontName",    "CharFontNameAsian",
                                 "CharHeight",    "CharHeightAsian", "CharPosture",
                                 "CharUnderline", "CharWeight"};
    Sequence<OUString> seq(static_cast<sal_Int32>(std::size(names)));
    for (sal_Int32 i = 0; i < seq.getLength(); ++i)
      seq.getArray()[i] = OUString::createFromAscii(names[i]);
    return seq;
  }();
  return keys;
}

// Writes the paragraphs of `from` into `to` as text, with their alignment and
// the font of their first piece; page number and page count fields stay
// fields, other fields become their text.
void Rebuild(const Reference<css::text::XText>& from, const Reference<css::text::XText>& to,
             DocumentState& target) {
  Reference<css::lang::XMultiServiceFactory> factory(target.model, UNO_QUERY_THROW);
  to->setString("");
  Reference<css::text::XTextCursor> at = to->createTextCursor();
  at->gotoEnd(false);
  Reference<css::container::XEnumeration> paragraphs =
      Reference<css::container::XEnumerationAccess>(from, UNO_QUERY_THROW)->createEnumeration();
  bool first = true;
  while (paragraphs->hasMoreElements()) {
    Reference<css::container::XEnumerationAccess> paragraph(paragraphs->nextElement(), UNO_QUERY);
    Reference<css::lang::XServiceInfo> info(paragraph, UNO_QUERY);
    if (!paragraph.is() || !info.is() || !info->supportsService("com.sun.star.text.Paragraph"))
      continue;
    if (!first) to->insertControlCharacter(Reference<css::text::XTextRange>(at.get()), 0, false);
    first = false;
    Reference<css::beans::XPropertySet>(at, UNO_QUERY_THROW)
        ->setPropertyValue("ParaAdjust",
                           Reference<css::beans::XPropertySet>(paragraph, UNO_QUERY_THROW)
                               ->getPropertyValue("ParaAdjust"));
    Reference<css::container::XEnumeration> portions = paragraph->createEnumeration();
    Sequence<Any> font;
    while (portions->hasMoreElements()) {
      Reference<css::text::XTextRange> portion(portions->nextElement(), UNO_QUERY);
      Reference<css::beans::XPropertySet> props(portion, UNO_QUERY);
      if (!portion.is() || !props.is()) continue;
      OUString type;
      props->getPropertyValue("TextPortionType") >>= type;
      if (!font.hasElements() && (type == "Text" || type == "TextField"))
        font = Reference<css::beans::XMultiPropertySet>(props, UNO_QUERY_THROW)
                   ->getPropertyValues(FontKeys());
      if (type == "TextField") {
        Reference<css::lang::XServiceInfo> field(props->getPropertyValue("TextField"), UNO_QUERY);
        const char* kind = nullptr;
        if (field.is() && field->supportsService("com.sun.star.text.textfield.PageNumber"))
          kind = "com.sun.star.text.textfield.PageNumber";
        else if (field.is() && field->supportsService("com.sun.star.text.textfield.PageCount"))
          kind = "com.sun.star.text.textfield.PageCount";
        if (kind) {
          Reference<css::beans::XPropertySet> made(
              factory->createInstance(OUString::createFromAscii(kind)), UNO_QUERY_THROW);
          Reference<css::beans::XPropertySet> old(field, UNO_QUERY_THROW);
          made->setPropertyValue("NumberingType", old->getPropertyValue("NumberingType"));
          if (std::string(kind).find("PageNumber") != std::string::npos)
            made->setPropertyValue("SubType", old->getPropertyValue("SubType"));
          to->insertTextContent(Reference<css::text::XTextRange>(at.get()),
                                Reference<css::text::XTextContent>(made, UNO_QUERY_THROW), false);
          continue;
        }
      }
      if (type == "Text" || type == "TextField")
        to->insertString(Reference<css::text::XTextRange>(at.get()), portion->getString(), false);
    }
    if (font.hasElements()) {
      Reference<css::text::XParagraphCursor> whole(at, UNO_QUERY_THROW);
      whole->gotoStartOfParagraph(true);
      Reference<css::beans::XMultiPropertySet>(at, UNO_QUERY_THROW)
          ->setPropertyValues(FontKeys(), font);
      whole->gotoEndOfParagraph(false);
    }
  }
}

Reference<css::uno::XInterface> First(const Reference<css::text::XText>& text) {
  Reference<css::container::XEnumeration> parts =
      Reference<css::container::XEnumerationAccess>(text, UNO_QUERY_THROW)->createEnumeration();
  return parts->hasMoreElements() ? Reference<css::uno::XInterface>(parts->nextElement(), UNO_QUERY)
                                  : Reference<css::uno::XInterface>();
}

bool StartsWithTable(const Reference<css::text::XText>& text) {
  Reference<css::lang::XServiceInfo> first(First(text), UNO_QUERY);
  return first.is() && first->supportsService("com.sun.star.text.TextTable");
}

// The table a text ends with, if it does: a header may hold nothing but a
// table, with no paragraph after it.
Reference<css::text::XTextContent> LastTable(const Reference<css::text::XText>& text) {
  Reference<css::container::XEnumeration> parts =
      Reference<css::container::XEnumerationAccess>(text, UNO_QUERY_THROW)->createEnumeration();
  Reference<css::uno::XInterface> last;
  while (parts->hasMoreElements()) last.set(parts->nextElement(), UNO_QUERY);
  Reference<css::lang::XServiceInfo> kind(last, UNO_QUERY);
  if (!kind.is() || !kind->supportsService("com.sun.star.text.TextTable")) return {};
  return Reference<css::text::XTextContent>(last, UNO_QUERY);
}

// Gives a text that opens or closes with a table a paragraph before or after
// it, as low as a paragraph gets, so that a selection can take the whole text.
void PadTables(DocumentState& d, const Reference<css::text::XText>& text) {
  const bool leading = StartsWithTable(text);
  const Reference<css::text::XTextContent> closing = LastTable(text);
  if (!leading && !closing.is()) return;
  Reference<css::text::XRelativeTextContentInsert> around(text, UNO_QUERY_THROW);
  auto paragraph = [&] {
    return Reference<css::text::XTextContent>(
        Reference<css::lang::XMultiServiceFactory>(d.model, UNO_QUERY_THROW)
            ->createInstance("com.sun.star.text.Paragraph"),
        UNO_QUERY_THROW);
  };
  if (leading) {
    around->insertTextContentBefore(
        paragraph(), Reference<css::text::XTextContent>(First(text), UNO_QUERY_THROW));
    MakeLow(Reference<css::beans::XPropertySet>(First(text), UNO_QUERY_THROW));
  }
  if (closing.is()) {
    around->insertTextContentAfter(paragraph(), closing);
    Reference<css::text::XTextCursor> end = text->createTextCursor();
    end->gotoEnd(false);
    MakeLow(Reference<css::beans::XPropertySet>(end, UNO_QUERY_THROW));
  }
}

// Whether a header or footer holds tables or pictures, which a rebuild from
// its text would lose.
bool HoldsObjects(const Reference<css::text::XText>& text) {
  Reference<css::container::XEnumeration> parts =
      Reference<css::container::XEnumerationAccess>(text, UNO_QUERY_THROW)->createEnumeration();
  while (parts->hasMoreElements()) {
    Reference<css::lang::XServiceInfo> part(parts->nextElement(), UNO_QUERY);
    if (!part.is()) continue;
    if (part->supportsService("com.sun.star.text.TextTable")) return true;
    Reference<css::container::XContentEnumerationAccess> anchored(part, UNO_QUERY);
    if (anchored.is() &&
        anchored->createContentEnumeration("com.sun.star.text.TextContent")->hasMoreElements())
      return true;
    Reference<css::container::XEnumerationAccess> portions(part, UNO_QUERY);
    if (!portions.is()) continue;
    Reference<css::container::XEnumeration> each = portions->createEnumeration();
    while (each->hasMoreElements()) {
      Reference<css::beans::XPropertySet> portion(each->nextElement(), UNO_QUERY);
      OUString type;
      if (portion.is()) portion->getPropertyValue("TextPortionType") >>= type;
      if (type == "Frame") return true;
    }
  }
  return false;
}

// What decides how the pages of the page style `name` look: their setup, the
// words of their headers and footers, and the look of the style the next
// pages take. Empty when a header or footer holds tables or pictures: two
// documents may have the same words there around other objects, so such a
// style is never shared.
Sequence<Any> PageLook(const Reference<css::container::XNameAccess>& styles, const OUString& name,
                       int depth = 0) {
  Reference<css::beans::XPropertySet> style(styles->getByName(name), UNO_QUERY_THROW);
  const Sequence<Any> setup = Reference<css::beans::XMultiPropertySet>(style, UNO_QUERY_THROW)
                                  ->getPropertyValues(PageLookKeys());
  std::vector<Any> look(setup.begin(), setup.end());
  for (const char* key : {"HeaderText", "HeaderTextLeft", "HeaderTextFirst", "FooterText",
                          "FooterTextLeft", "FooterTextFirst"}) {
    OUString words;
    try {
      Reference<css::text::XText> text(style->getPropertyValue(OUString::createFromAscii(key)),
                                       UNO_QUERY);
      if (text.is()) {
        if (HoldsObjects(text)) return {};
        words = text->getString();
      }
    } catch (const css::uno::RuntimeException&) {
      // a header or footer that is switched off has no text
    } catch (const css::beans::UnknownPropertyException&) {
    }
    look.emplace_back(words);
  }
  OUString next;
  style->getPropertyValue("FollowStyle") >>= next;
  if (!next.isEmpty() && next != name && styles->hasByName(next) && depth < 4) {
    const Sequence<Any> after = PageLook(styles, next, depth + 1);
    if (!after.hasElements()) return {};
    look.insert(look.end(), after.begin(), after.end());
  }
  return Sequence<Any>(look.data(), static_cast<sal_Int32>(look.size()));
}

// An object of the document's own making: its settings, its defaults, a style.
Reference<css::beans::XPropertySet> Made(DocumentState& d, const char* service) {
  return Reference<css::beans::XPropertySet>(
      Reference<css::lang::XMultiServiceFactory>(d.model, UNO_QUERY_THROW)
          ->createInstance(OUString::createFromAscii(service)),
      UNO_QUERY_THROW);
}

// Gives `target` the settings of `source` that decide how its text is laid
// out: whether tab stops count from the indent or the margin, how spacing
// between paragraphs and tables adds up, how lines are measured... A Word
// document and a new document of the office differ in many of them, so the
// same paragraphs would break into other lines and pages. What only concerns
// printing, saving, protection or data sources stays the target's.
void CopyLayoutSettings(DocumentState& source, DocumentState& target) {
  const Reference<css::beans::XPropertySet> from = Made(source, "com.sun.star.document.Settings"),
                                            to = Made(target, "com.sun.star.document.Settings");
  // Also kept: the office saves a .docx whose table cells hold nothing but a
  // no-break space without that space once external leading is switched off.
  static const char* const kept[] = {"Print",
                                     "Current",
                                     "Redline",
                                     "Rsid",
                                     "Modify",
                                     "Load",
                                     "Embed",
                                     "Save",
                                     "Forbidden",
                                     "Protect",
                                     "IsLabelDocument",
                                     "ApplyUserData",
                                     "Allow",
                                     "LinkUpdate",
                                     "UpdateFromTemplate",
                                     "FieldAutoUpdate",
                                     "ChartAutoUpdate",
                                     "AddExternalLeading"};
  const Reference<css::beans::XPropertySetInfo> info = to->getPropertySetInfo();
  for (const auto& p : from->getPropertySetInfo()->getProperties()) {
    if ((p.Attributes & css::beans::PropertyAttribute::READONLY) ||
        !info->hasPropertyByName(p.Name))
      continue;
    if (std::any_of(std::begin(kept), std::end(kept), [&](const char* prefix) {
          return p.Name.startsWithIgnoreAsciiCase(OUString::createFromAscii(prefix));
        }))
      continue;
    try {
      const Any value = from->getPropertyValue(p.Name);
      if (value != to->getPropertyValue(p.Name)) to->setPropertyValue(p.Name, value);
    } catch (const css::uno::Exception&) {
      // a setting this office will not take from another document stays as it is
    }
  }
}

}  // namespace

void CarryParagraphLook(DocumentState& source, DocumentState& target,
                        const Reference<css::beans::XPropertySet>& from,
                        const Reference<css::beans::XPropertySet>& to) {
  OUString name;
  from->getPropertyValue("ParaStyleName") >>= name;
  // The list the paragraph is in sets its indents: its style comes first.
  OUString list;
  from->getPropertyValue("NumberingStyleName") >>= list;
  const Reference<css::container::XNameAccess> lists = Family(target, "NumberingStyles");
  if (const Reference<css::container::XNameAccess> ours = Family(source, "NumberingStyles");
      !list.isEmpty() && !lists->hasByName(list) && ours->hasByName(list)) {
    const Reference<css::beans::XPropertySet> rules =
        Made(target, "com.sun.star.style.NumberingStyle");
    Reference<css::container::XNameContainer>(lists, UNO_QUERY_THROW)
        ->insertByName(list, Any(rules));
    try {
      rules->setPropertyValue("NumberingRules", Reference<css::beans::XPropertySet>(
                                                    ours->getByName(list), UNO_QUERY_THROW)
                                                    ->getPropertyValue("NumberingRules"));
    } catch (const css::uno::Exception&) {
    }
  }
  Reference<css::container::XNameAccess> mine = Family(source, "ParagraphStyles");
  Reference<css::container::XNameAccess> theirs = Family(target, "ParagraphStyles");
  if (!name.isEmpty() && !theirs->hasByName(name) && mine->hasByName(name)) {
    Reference<css::beans::XPropertySet> style(mine->getByName(name), UNO_QUERY_THROW);
    const Reference<css::beans::XPropertySet> copy =
        Made(target, "com.sun.star.style.ParagraphStyle");
    Reference<css::container::XNameContainer>(theirs, UNO_QUERY_THROW)
        ->insertByName(name, Any(copy));
    CopyProperties(style, copy, StyleSkip(), true);
  }
  if (!name.isEmpty() && theirs->hasByName(name)) {
    // Setting a style drops the formatting the pasted text brought along
    // for the whole paragraph.
    Sequence<OUString> names;
    SetStyleKeepingOwn(to, name, names);
  }
  // What the paragraph set on itself, as far as the paragraph is concerned:
  // character values asked of a paragraph are those of its text, which the
  // pasted text brings along.
  std::vector<OUString> own;
  Reference<css::beans::XPropertyState> state(from, UNO_QUERY);
  if (!state.is()) return;
  for (const auto& p : from->getPropertySetInfo()->getProperties()) {
    if (p.Attributes & css::beans::PropertyAttribute::READONLY) continue;
    const bool wanted =
        (p.Name.startsWith("Para") && p.Name != "ParaStyleName" &&
         p.Name != "ParaConditionalStyleName" && p.Name != "ParaUserDefinedAttributes" &&
         p.Name != "ParaIsNumberingRestart") ||
        p.Name.indexOf("Border") >= 0 || p.Name == "NumberingStyleName" ||
        p.Name == "NumberingLevel";
    if (!wanted || !to->getPropertySetInfo()->hasPropertyByName(p.Name)) continue;
    try {
      if (state->getPropertyState(p.Name) != css::beans::PropertyState_DIRECT_VALUE) continue;
    } catch (const css::uno::Exception&) {
      continue;
    }
    own.push_back(p.Name);
  }
  for (const OUString& key : own) {
    try {
      const Any value = from->getPropertyValue(key);
      OUString named;
      if (key == "NumberingStyleName" && (value >>= named) && !named.isEmpty() &&
          !lists->hasByName(named))
        continue;
      to->setPropertyValue(key, value);
    } catch (const css::uno::Exception&) {
    }
  }
}

// Gives `target` the defaults every style of `source` starts from: font,
// size, widow and orphan control, kerning, the distance of default tab
// stops. A Word document's differ from those of a new document, and what a
// style does not set itself comes from them.
void CopyDefaults(DocumentState& source, DocumentState& target) {
  const Reference<css::beans::XPropertySet> from = Made(source, "com.sun.star.text.Defaults"),
                                            to = Made(target, "com.sun.star.text.Defaults");
  const Reference<css::beans::XPropertySetInfo> info = to->getPropertySetInfo();
  for (const auto& p : from->getPropertySetInfo()->getProperties()) {
    // The interop bags name theme fonts a saved .docx would not define.
    if ((p.Attributes & css::beans::PropertyAttribute::READONLY) ||
        !info->hasPropertyByName(p.Name) || p.Name.indexOf("UserDefinedAttributes") >= 0 ||
        p.Name.indexOf("InteropGrabBag") >= 0)
      continue;
    try {
      const Any value = from->getPropertyValue(p.Name);
      if (value.hasValue() && value != to->getPropertyValue(p.Name))
        to->setPropertyValue(p.Name, value);
    } catch (const css::uno::Exception&) {
    }
  }
}

void PrepareStyles(DocumentState& source, DocumentState& target) {
  if (source.added) return;
  // The first document pasted into a new one lends it its layout settings
  // and the defaults its styles build on.
  if (target.added && target.pastes == 0) {
    try {
      CopyLayoutSettings(source, target);
    } catch (const css::uno::Exception&) {
    }
    try {
      CopyDefaults(source, target);
    } catch (const css::uno::Exception&) {
    }
  }
  SeparateStyles(source, target, target.pastes + 1);
}

void CarryPageStyle(DocumentState& source, DocumentState& target,
                    const Reference<css::text::XTextRange>& landing,
                    const Reference<css::text::XTextRange>& origin) {
  if (source.added) return;
  // The page setup in force where the pasted content starts.
  Reference<css::text::XTextCursor> start;
  if (origin.is() && origin->getText() == source.body) {
    start = source.body->createTextCursorByRange(origin->getStart());
  } else {
    start = source.body->createTextCursor();
    start->gotoStart(false);
  }
  OUString pageStyle;
  Reference<css::beans::XPropertySet>(start, UNO_QUERY_THROW)->getPropertyValue("PageStyleName") >>=
      pageStyle;
  if (pageStyle.isEmpty()) return;
  // How the source shows headers on the page the content starts on: the
  // first-page ones only on the first page of a run of its page style, the
  // left-page ones on even pages. The landing page shows the same ones.
  bool firstPage = true, leftPage = false;
  if (origin.is() && origin->getText() == source.body && source.view.is()) {
    try {
      Reference<css::text::XPageCursor> pages(source.view, UNO_QUERY_THROW);
      source.view->gotoRange(origin->getStart(), false);
      const sal_Int16 page = pages->getPage();
      leftPage = page % 2 == 0;
      OUString startsRun;
      Reference<css::beans::XPropertySet>(start, UNO_QUERY_THROW)
          ->getPropertyValue("PageDescName") >>= startsRun;
      if (page > 1 && startsRun.isEmpty() && pages->jumpToPage(page - 1)) {
        OUString before;
        Reference<css::beans::XPropertySet>(source.view, UNO_QUERY_THROW)
            ->getPropertyValue("PageStyleName") >>= before;
        firstPage = before != pageStyle;
      }
    } catch (const css::uno::Exception&) {
    }
  }
  Reference<css::container::XNameAccess> mine = Family(source, "PageStyles");
  Reference<css::container::XNameAccess> theirs = Family(target, "PageStyles");
  Reference<css::lang::XMultiServiceFactory> factory(target.model, UNO_QUERY_THROW);

  auto on = [](const Reference<css::beans::XPropertySet>& from, const char* key,
               bool missing = false) {
    bool value = missing;
    try {
      from->getPropertyValue(OUString::createFromAscii(key)) >>= value;
    } catch (const css::beans::UnknownPropertyException&) {
    }
    return value;
  };
  auto copyText = [&](const Reference<css::beans::XPropertySet>& from,
                      const Reference<css::beans::XPropertySet>& to, const std::string& fromKey,
                      const std::string& toKey) {
    Reference<css::text::XText> a(
        from->getPropertyValue(OUString::createFromAscii(fromKey.c_str())), UNO_QUERY);
    Reference<css::text::XText> b(to->getPropertyValue(OUString::createFromAscii(toKey.c_str())),
                                  UNO_QUERY);
    if (!a.is() || !b.is()) return;
    // Copying header text between documents (XTextCopy) can bring the office
    // down and brings nothing over, so headers with tables or pictures go over
    // like the body, as a transferable; the rest are rebuilt from their text
    // and page fields.
    {
      try {
        // A selection can neither start before a leading table nor end after
        // a closing one: the source gets paragraphs around them that take no
        // room on its pages (so that parts cut after this one still find its
        // pages as they were), once; the leading one is not pasted along.
        PadTables(source, a);
        const bool leadingTable = IsLow(First(a));
        Reference<css::text::XTextCursor> all = a->createTextCursor();
        all->gotoStart(false);
        all->gotoEnd(true);
        Reference<css::view::XSelectionSupplier>(source.controller, UNO_QUERY_THROW)
            ->select(Any(Reference<css::text::XTextRange>(all, UNO_QUERY_THROW)));
        Reference<css::datatransfer::XTransferable> content =
            Reference<css::datatransfer::XTransferableSupplier>(source.controller, UNO_QUERY_THROW)
                ->getTransferable();
        b->setString("");  // what unsharing it copied from the right-page one
        Reference<css::text::XTextCursor> into = b->createTextCursor();
        Reference<css::view::XSelectionSupplier>(target.controller, UNO_QUERY_THROW)
            ->select(Any(Reference<css::text::XTextRange>(into, UNO_QUERY_THROW)));
        Reference<css::datatransfer::XTransferableSupplier>(target.controller, UNO_QUERY_THROW)
            ->insertTransferable(content);
        if (leadingTable) {
          Reference<css::text::XTextRange> lead(First(b), UNO_QUERY);
          Reference<css::lang::XServiceInfo> kind(lead, UNO_QUERY);
          if (lead.is() && kind.is() && kind->supportsService("com.sun.star.text.Paragraph") &&
              lead->getString().isEmpty())
            Reference<css::lang::XComponent>(lead, UNO_QUERY_THROW)->dispose();
        }
        return;
      } catch (const css::uno::Exception&) {
        // rebuilt from its text below
      }
    }
    Rebuild(a, b, target);
  };
  auto land = [&](const OUString& name) {
    Reference<css::beans::XPropertySet>(target.body->createTextCursorByRange(landing),
                                        UNO_QUERY_THROW)
        ->setPropertyValue("PageDescName", Any(name));
  };
  // Only a change: a header's sharing set to what it already is still has
  // the saved document hold the header once for every kind of page.
  auto set = [](const Reference<css::beans::XPropertySet>& style, const char* key, bool value) {
    try {
      const OUString k = OUString::createFromAscii(key);
      bool now = !value;
      style->getPropertyValue(k) >>= now;
      if (now != value) style->setPropertyValue(k, Any(value));
    } catch (const css::beans::UnknownPropertyException&) {
    }
  };
  // Makes the target's copy of the source's page style `style`, and of the
  // style its later pages take; the landing page takes it.
  std::map<OUString, OUString> made;
  std::function<OUString(const OUString&)> carry = [&](const OUString& style) -> OUString {
    if (auto it = made.find(style); it != made.end()) return it->second;
    // Documents made from one template share one page style in the result.
    // Only the landing page's own style shows its headers as that page did.
    const bool ownStyle = made.empty();
    const bool dropFirst = ownStyle && !firstPage, swapSides = ownStyle && leftPage;
    Sequence<Any> look = PageLook(mine, style);
    if (look.hasElements() && (dropFirst || swapSides)) {
      std::vector<Any> variant(look.begin(), look.end());
      variant.emplace_back(dropFirst);
      variant.emplace_back(swapSides);
      look = Sequence<Any>(variant.data(), static_cast<sal_Int32>(variant.size()));
    }
    if (look.hasElements())
      for (const auto& [carried, carriedLook] : target.pageStyles)
        if (carriedLook == look) {
          made[style] = carried;
          land(carried);
          return carried;
        }
    const OUString name = FreeName(style, target.pastes + 1, mine, theirs);
    made[style] = name;
    if (look.hasElements()) target.pageStyles.emplace_back(name, look);
    Reference<css::beans::XPropertySet> from(mine->getByName(style), UNO_QUERY_THROW);
    Reference<css::beans::XPropertySet> to(factory->createInstance("com.sun.star.style.PageStyle"),
                                           UNO_QUERY_THROW);
    Reference<css::container::XNameContainer>(theirs, UNO_QUERY_THROW)->insertByName(name, Any(to));
    // A header's height and distance hold only while the header is on.
    for (const char* part : {"HeaderIsOn", "FooterIsOn"}) set(to, part, on(from, part));
    CopyProperties(from, to, StyleSkip());
    to->setPropertyValue("FollowStyle", Any(name));

    // A header's content is pasted where a page shows it, so the landing page
    // shows each in turn: the right-page ones, the left-page ones with the
    // page counted as even, then the first-page ones.
    const char* const parts[] = {"Header", "Footer"};
    bool shown[2], shared[2];
    for (int i = 0; i < 2; ++i) {
      const std::string p = parts[i];
      shown[i] = on(from, (p + "IsOn").c_str());
      shared[i] = on(from, (p + "IsShared").c_str(), true);
      set(to, (p + "IsShared").c_str(), true);
    }
    const bool firstShared = on(from, "FirstIsShared", true);
    set(to, "FirstIsShared", true);
    land(name);
    for (int i = 0; i < 2; ++i)
      if (shown[i])
        copyText(from, to, std::string(parts[i]) + (swapSides && !shared[i] ? "TextLeft" : "Text"),
                 std::string(parts[i]) + "Text");
    if ((shown[0] && !shared[0]) || (shown[1] && !shared[1])) {
      Reference<css::beans::XPropertySet> at(target.body->createTextCursorByRange(landing),
                                             UNO_QUERY_THROW);
      const Any offset = at->getPropertyValue("PageNumberOffset");
      at->setPropertyValue("PageNumberOffset", Any(sal_Int16(2)));
      for (int i = 0; i < 2; ++i) {
        if (!shown[i] || shared[i]) continue;
        set(to, (std::string(parts[i]) + "IsShared").c_str(), false);
        copyText(from, to, std::string(parts[i]) + (swapSides ? "Text" : "TextLeft"),
                 std::string(parts[i]) + "TextLeft");
      }
      at->setPropertyValue("PageNumberOffset", offset);
    }
    if (!firstShared && !dropFirst) {
      set(to, "FirstIsShared", false);
      for (int i = 0; i < 2; ++i)
        if (shown[i])
          copyText(from, to, std::string(parts[i]) + "TextFirst",
                   std::string(parts[i]) + "TextFirst");
    }
    // A first-page style goes on with a style of its own.
    OUString next;
    from->getPropertyValue("FollowStyle") >>= next;
    if (!next.isEmpty() && next != style && mine->hasByName(next))
      to->setPropertyValue("FollowStyle", Any(carry(next)));
    land(name);
    return name;
  };
  carry(pageStyle);
  Reference<css::view::XSelectionSupplier>(target.controller, UNO_QUERY_THROW)
      ->select(Any(landing));
}

}  // namespace pw::word
