// Moving content between documents inside the office. This file is built
// into the program and into the agent that runs inside the office process, so
// it talks to documents only through their interfaces.

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/style/BreakType.hpp>
#include <com/sun/star/text/XParagraphAppend.hpp>
#include <com/sun/star/text/XRelativeTextContentInsert.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include "platform/office/word_state.h"

namespace pw::word {

using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

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

void Settle(DocumentState& d) {
  if (!d.added && !d.path.empty()) {
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
      }
    }
  }
  d.view->gotoStart(false);
}

void PasteContent(DocumentState& source, DocumentState& target, const css::uno::Any& selection) {
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
  if (newPage && !same)
    CarryPageStyle(source, target, Reference<css::text::XTextRange>(landing.get()));
  Reference<css::view::XSelectionSupplier>(source.controller, UNO_QUERY_THROW)->select(selection);
  Reference<css::datatransfer::XTransferable> content =
      Reference<css::datatransfer::XTransferableSupplier>(source.controller, UNO_QUERY_THROW)
          ->getTransferable();
  Reference<css::datatransfer::XTransferableSupplier>(target.controller, UNO_QUERY_THROW)
      ->insertTransferable(content);
}

}  // namespace pw::word
