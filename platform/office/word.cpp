#include "platform/office/word.h"

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/IndexOutOfBoundsException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/style/BreakType.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/TextContentAnchorType.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XParagraphAppend.hpp>
#include <com/sun/star/text/XParagraphCursor.hpp>
#include <com/sun/star/text/XRelativeTextContentInsert.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextGraphicObjectsSupplier.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextTablesSupplier.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/text/XWordCursor.hpp>
#include <com/sun/star/util/XRefreshable.hpp>
#include <com/sun/star/view/XLineCursor.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/office/word_state.h"
#include "platform/translate.h"

namespace pw::word {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
namespace text = css::text;

namespace {

// Arguments of one agent step.
Sequence<css::beans::NamedValue> Step(std::initializer_list<css::beans::NamedValue> args) {
  return Sequence<css::beans::NamedValue>(args.begin(), static_cast<sal_Int32>(args.size()));
}

int Clamp(sal_Int32 v) {
  return static_cast<int>(v);
}

Reference<text::XTextRange> AsRange(const Reference<text::XTextCursor>& c) {
  return Reference<text::XTextRange>(c.get());
}

}  // namespace

// ---- the model's inner steps ----------------------------------------------

namespace {

OfficeServer::Impl& Server(WordApplication& app) {
  return app.Server().impl();
}

template <class F>
auto Do(WordDocument& doc, const char* action, F&& f) {
  return Server(doc.Application()).Call(doc.Path(), action, std::forward<F>(f));
}

void Map(WordDocument& doc) {
  DocumentState& d = doc.state();
  if (!d.mapped) Do(doc, PW_TR_NOOP("office", "读取"), [&] { MapText(d); });
}

// A question about positions, answered by the agent from its own map of the
// document, made once per version of the text.
Sequence<sal_Int32> Ask(WordDocument& doc, const char* action, const char* what,
                        std::initializer_list<css::beans::NamedValue> more = {}) {
  DocumentState& d = doc.state();
  OfficeServer::Impl& server = Server(doc.Application());
  std::vector<css::beans::NamedValue> args = {{"Action", Any(OUString::createFromAscii(action))},
                                              {"Document", Any(d.component)},
                                              {"Generation", Any(sal_Int32(d.generation))},
                                              {"Padded", Any(d.padded)}};
  args.insert(args.end(), more.begin(), more.end());
  Sequence<sal_Int32> answer;
  server.Call(d.path, what, [&] {
    server.agent->execute(Sequence<css::beans::NamedValue>(
        args.data(), static_cast<sal_Int32>(args.size()))) >>= answer;
  });
  d.agentKnows = true;
  if (answer.getLength() < 2)
    throw OfficeError(d.path, what, PW_TR_NOOP("office", "LibreOffice 没有回答"));
  return answer;
}

bool HasAgent(WordDocument& doc) {
  return Server(doc.Application()).agent.is();
}

void Invalidate(DocumentState& d) {
  d.mapped = false;
  ++d.generation;
  d.laidOut = false;
  d.blocks.clear();
}

// A document made by Add is filled with its views locked: nothing is laid
// out while content arrives, which would otherwise grow with the document.
void Lock(DocumentState& d) {
  if (d.locked) return;
  d.model->lockControllers();
  d.locked = true;
}
void Unlock(DocumentState& d) {
  if (!d.locked) return;
  d.model->unlockControllers();
  d.locked = false;
}

// Pages exist only once the whole text is laid out; loading and editing lay
// out only what a window would show.
void LayOut(DocumentState& d) {
  Unlock(d);
  if (d.laidOut) return;
  Reference<css::util::XRefreshable>(d.model, UNO_QUERY_THROW)->refresh();
  d.laidOut = true;
}

Reference<css::view::XSelectionSupplier> Selector(DocumentState& d) {
  return Reference<css::view::XSelectionSupplier>(d.controller, UNO_QUERY_THROW);
}

std::unique_ptr<DocumentState> Attach(OfficeServer::Impl& server,
                                      Reference<css::lang::XComponent> component,
                                      const std::string& path) {
  auto d = std::make_unique<DocumentState>();
  d->path = path;
  if (!server.agent.is()) {
    AttachParts(*d, component);
    if (d->model.is()) Settle(*d, !path.empty());
    return d;
  }
  Sequence<Any> parts;
  server.agent->execute(Step({{"Action", Any(OUString("Open"))},
                              {"Document", Any(component)},
                              {"Opened", Any(!path.empty())}})) >>= parts;
  d->component = component;
  if (parts.getLength() == 4) {
    d->model.set(parts[0], UNO_QUERY);
    d->body.set(parts[1], UNO_QUERY);
    d->controller.set(parts[2], UNO_QUERY);
    d->view.set(parts[3], UNO_QUERY);
  }
  return d;
}

}  // namespace

// ---- range ----------------------------------------------------------------

void WordRange::Select() {
  WordDocument& doc = *doc_;
  DocumentState& d = doc.state();
  if (HasAgent(doc)) {
    const Sequence<sal_Int32> answer =
        Ask(doc, "SelectSpan", PW_TR_NOOP("office", "选择"),
            {{"Start", Any(sal_Int32(start_))}, {"End", Any(sal_Int32(end_))}});
    if (answer[1] != 0 && !d.padded) {
      d.padded = true;
      Invalidate(d);
    }
    return;
  }
  Map(doc);
  Do(doc, PW_TR_NOOP("office", "选择"), [&] {
    Reference<text::XTextCursor> cursor = d.body->createTextCursorByRange(RangeAt(d, start_));
    if (end_ > start_) cursor->gotoRange(RangeAt(d, end_), true);
    Selector(d)->select(Any(cursor));
  });
}

// ---- document -------------------------------------------------------------

WordDocument::WordDocument(WordApplication& app, std::unique_ptr<DocumentState> state)
    : app_(&app), state_(std::move(state)) {}

namespace {
// Closes a document without saving it; the agent first lets go of what it
// keeps of it, which would otherwise hold the closed document's objects.
void Discard(OfficeServer::Impl& server, const Reference<css::lang::XComponent>& component,
             bool agentKeeps) {
  // A document of a server that is gone went with it: nothing is left to close.
  if (!server.desktop.is() || !server.Alive()) return;
  if (agentKeeps && server.agent.is())
    server.Call({}, PW_TR_NOOP("office", "关闭文档"), [&] {
      server.agent->execute(
          Step({{"Action", Any(OUString("Forget"))}, {"Target", Any(component)}}));
    });
  server.CloseDocument(component);
}
}  // namespace

WordDocument::~WordDocument() {
  try {
    if (state_ && state_->component.is())
      Discard(Server(*app_), state_->component, state_->pastes > 0 || state_->agentKnows);
  } catch (...) {
  }
}

const std::string& WordDocument::Path() const {
  return state_->path;
}

std::string WordDocument::SaveAs(const std::string& path) {
  std::string target = path;
  std::string filter;
  const std::size_t slash = target.find_last_of('/');
  const std::size_t dot = target.find_last_of('.');
  std::string ext = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                        ? target.substr(dot)
                        : std::string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".doc")
    filter = "MS Word 97";
  else if (ext == ".docx")
    filter = "MS Word 2007 XML";
  else if (ext == ".odt")
    filter = "writer8";
  else if (ext == ".rtf")
    filter = "Rich Text Format";
  else {
    target += ".docx";
    filter = "MS Word 2007 XML";
  }
  Server(*app_).Store(state_->component, target, filter, PW_TR_NOOP("office", "保存"));
  // What the office wrote must at least be a file of the chosen kind: a
  // server that fails while writing may leave an empty or cut-short file.
  std::ifstream in(target, std::ios::binary);
  char head[8] = {};
  in.read(head, sizeof head);
  bool zip = std::memcmp(head, "PK\x03\x04", 4) == 0;
  if (zip) {
    // A whole zip file ends with its central directory.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff from = std::max<std::streamoff>(0, size - 65557);
    std::string tail(static_cast<std::size_t>(size - from), '\0');
    in.seekg(from);
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    zip = in && tail.rfind("PK\x05\x06") != std::string::npos;
  }
  const bool compound = std::memcmp(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0;
  const bool rtf = std::memcmp(head, "{\\rtf", 5) == 0;
  if (!(filter == "MS Word 97" ? compound : filter == "Rich Text Format" ? rtf : zip))
    throw OfficeError(target, PW_TR_NOOP("office", "保存"),
                      PW_TR_NOOP("office", "写出的文件不完整"));
  return target;
}

void WordDocument::Close() {
  WordApplication& app = *app_;
  auto& open = app.documents_.open_;
  auto it =
      std::find_if(open.begin(), open.end(), [this](const auto& p) { return p.get() == this; });
  if (it == open.end()) return;
  std::unique_ptr<WordDocument> self = std::move(*it);
  open.erase(it);
  WordApplication::Carrier& carrier = app.carrier();
  if (carrier.source == this) {
    // Its content waits to be pasted: the document goes when the carrier does.
    carrier.closedSource = std::move(self);
    return;
  }
  Reference<css::lang::XComponent> component = std::move(state_->component);
  const bool agentKeeps = state_->pastes > 0 || state_->agentKnows;
  self.reset();  // `this` is gone from here on
  Discard(Server(app), component, agentKeeps);
}

namespace {
// The pages of a laid-out document that hold something (see DocumentState).
const std::vector<int>& RealPages(DocumentState& d) {
  LayOut(d);
  if (d.pagesGeneration == d.generation && !d.pages.empty()) return d.pages;
  Reference<css::beans::XPropertySet> props(d.controller, UNO_QUERY_THROW);
  sal_Int32 count = 0;
  props->getPropertyValue("PageCount") >>= count;
  d.pages.clear();
  Reference<text::XPageCursor> pc(d.view, UNO_QUERY_THROW);
  const Reference<text::XTextRange> keep = d.view->getStart();
  // A blank page has nothing to stand on: the cursor cannot go there.
  for (sal_Int32 p = 1; p <= count && p <= 32767; ++p)
    if (pc->jumpToPage(static_cast<sal_Int16>(p))) d.pages.push_back(p);
  if (d.pages.empty())
    for (sal_Int32 p = 1; p <= count; ++p) d.pages.push_back(p);
  d.view->gotoRange(keep, false);
  d.pagesGeneration = d.generation;
  return d.pages;
}
}  // namespace

int WordDocument::PageCount() {
  return Do(*this, PW_TR_NOOP("office", "统计页数"),
            [&] { return static_cast<int>(RealPages(*state_).size()); });
}

int WordDocument::CharacterCount() {
  if (HasAgent(*this)) return Ask(*this, "Measure", PW_TR_NOOP("office", "读取"))[1];
  Map(*this);
  return state_->chars;
}

int WordDocument::Length() {
  if (HasAgent(*this)) return Ask(*this, "Measure", PW_TR_NOOP("office", "读取"))[0];
  Map(*this);
  return state_->length;
}

std::string WordDocument::Text() {
  Map(*this);
  return Do(*this, PW_TR_NOOP("office", "读取"), [&] {
    std::string out;
    for (const Block& b : state_->blocks) {
      if (b.paragraph.is()) {
        out += FromOU(b.paragraph->getString()) + "\n";
      } else {
        Block scratch;
        MeasureTable(Reference<text::XTextTable>(b.table, UNO_QUERY_THROW), scratch, &out);
      }
    }
    return out;
  });
}

int WordDocument::TableCount() {
  return Do(*this, PW_TR_NOOP("office", "读取"), [&] {
    Reference<text::XTextTablesSupplier> tables(state_->model, UNO_QUERY_THROW);
    return Clamp(tables->getTextTables()->getElementNames().getLength());
  });
}

int WordDocument::ImageCount() {
  return Do(*this, PW_TR_NOOP("office", "读取"), [&] {
    Reference<text::XTextGraphicObjectsSupplier> graphics(state_->model, UNO_QUERY_THROW);
    const int framed = Clamp(graphics->getGraphicObjects()->getElementNames().getLength());
    int count = 0;
    Reference<css::container::XIndexAccess> page(
        Reference<css::drawing::XDrawPageSupplier>(state_->model, UNO_QUERY_THROW)->getDrawPage(),
        UNO_QUERY_THROW);
    for (sal_Int32 i = 0; i < page->getCount(); ++i) {
      Reference<css::drawing::XShape> shape(page->getByIndex(i), UNO_QUERY);
      if (shape.is() && shape->getShapeType() == "com.sun.star.drawing.GraphicObjectShape") ++count;
    }
    // Pictures placed as text objects show up on the drawing page as well.
    return std::max(count, framed);
  });
}

// ---- documents ------------------------------------------------------------

namespace {
// What the office may read a source with: Word of every version (its
// web-page ".doc" exports too), RTF and ODF text. Plain text, CSV and the
// files of other applications are not documents: the office would make
// pages of any bytes read as text.
const std::vector<std::string>& DocumentFilters() {
  static const std::vector<std::string> filters = {
      "MS Word 97",
      "MS Word 97 Vorlage",
      "MS Word 95",
      "MS Word 95 Vorlage",
      "MS WinWord 6.0",
      "MS WinWord 5",
      "MS Word 2007 XML",
      "MS Word 2007 XML Template",
      "MS Word 2007 XML VBA",
      "Office Open XML Text",
      "Office Open XML Text Template",
      "MS Word 2003 XML",
      "Rich Text Format",
      "writer8",
      "writer8_template",
      "StarOffice XML (Writer)",
      "writer_StarOffice_XML_Writer_Template",
      "OpenDocument Text Flat XML",
      "HTML (StarWriter)",
      "HTML",
  };
  return filters;
}
}  // namespace

WordDocument& WordDocuments::Open(const std::string& path) {
  OfficeServer::Impl& server = Server(app_);
  Reference<css::lang::XComponent> component = server.Load(path, DocumentFilters());
  std::unique_ptr<DocumentState> state;
  try {
    state = server.Call(path, PW_TR_NOOP("office", "打开"),
                        [&] { return Attach(server, component, path); });
  } catch (...) {
    server.CloseDocument(component);
    throw;
  }
  if (!state->model.is()) {
    server.CloseDocument(component);
    throw OfficeError(path, PW_TR_NOOP("office", "打开"),
                      PW_TR_NOOP("office", "这不是文字处理文档"));
  }
  open_.push_back(std::make_unique<WordDocument>(app_, std::move(state)));
  return *open_.back();
}

WordDocument& WordDocuments::Add() {
  OfficeServer::Impl& server = Server(app_);
  Reference<css::lang::XComponent> component = server.Create("private:factory/swriter");
  std::unique_ptr<DocumentState> state = server.Call({}, PW_TR_NOOP("office", "新建文档"),
                                                     [&] { return Attach(server, component, {}); });
  state->added = true;
  server.Call({}, PW_TR_NOOP("office", "新建文档"), [&] { Lock(*state); });
  open_.push_back(std::make_unique<WordDocument>(app_, std::move(state)));
  return *open_.back();
}

void WordDocuments::Close() {
  app_.ReleaseCarrier();
  while (!open_.empty()) open_.back()->Close();
}

// ---- selection ------------------------------------------------------------

namespace {
WordDocument& Active(WordApplication& app) {
  return app.ActiveDocument();
}
}  // namespace

void WordSelection::WholeStory() {
  WordDocument& doc = Active(app_);
  DocumentState& d = doc.state();
  OfficeServer::Impl& server = Server(app_);
  Do(doc, PW_TR_NOOP("office", "选择"), [&] {
    if (server.agent.is()) {
      server.agent->execute(Step({{"Action", Any(OUString("SelectAll"))},
                                  {"Document", Any(d.component)},
                                  {"Pad", Any(!d.padded && !d.added)}}));
      if (!d.padded && !d.added) {
        d.padded = true;
        Invalidate(d);
      }
    } else {
      SelectWholeStory(d);
    }
  });
}

void WordSelection::Copy() {
  WordDocument& doc = Active(app_);
  app_.ReleaseCarrier();
  WordApplication::Carrier& carrier = app_.carrier();
  carrier.selection =
      Do(doc, PW_TR_NOOP("office", "复制"), [&] { return Selector(doc.state())->getSelection(); });
  carrier.source = &doc;
}

int WordSelection::Paste() {
  WordDocument& target = Active(app_);
  WordApplication::Carrier& carrier = app_.carrier();
  if (carrier.source == nullptr) return 0;
  DocumentState& source = carrier.source->state();
  DocumentState& t = target.state();
  OfficeServer::Impl& server = Server(app_);
  const std::string& file = source.path;
  sal_Int32 lost = 0;
  if (server.agent.is()) {
    // One call: the office process does the whole step itself.
    server.Call(file, PW_TR_NOOP("office", "复制内容"), [&] {
      server.agent->execute(Step({
          {"Action", Any(OUString("Paste"))},
          {"Source", Any(source.component)},
          {"SourceAdded", Any(source.added)},
          {"Target", Any(t.component)},
          {"Selection", carrier.selection},
          {"Fresh", Any(t.fresh)},
          {"Pastes", Any(static_cast<sal_Int32>(t.pastes))},
      })) >>= lost;
    });
  } else {
    if (carrier.source != &target)
      server.Call(file, PW_TR_NOOP("office", "复制样式"), [&] { PrepareStyles(source, t); });
    lost = server.Call(file, PW_TR_NOOP("office", "复制内容"),
                       [&] { return PasteContent(source, t, carrier.selection); });
  }
  t.fresh = false;
  ++t.pastes;
  Invalidate(t);
  return lost;
}

void WordSelection::EndKey() {
  WordDocument& doc = Active(app_);
  DocumentState& d = doc.state();
  Do(doc, PW_TR_NOOP("office", "移动"), [&] {
    // At the end of the text (where pastes leave it) the cursor is at the end
    // of its line already; finding the line would lay out the page first.
    if (d.view->isCollapsed() && d.view->getText() == d.body &&
        Reference<text::XTextRangeCompare>(d.body, UNO_QUERY_THROW)
                ->compareRegionEnds(Reference<text::XTextRange>(d.view.get()), d.body->getEnd()) ==
            0)
      return;
    Reference<css::view::XLineCursor>(d.view, UNO_QUERY_THROW)->gotoEndOfLine(false);
  });
}

void WordSelection::EndKey(int unit, int extend) {
  WordDocument& doc = Active(app_);
  DocumentState& d = doc.state();
  Do(doc, PW_TR_NOOP("office", "移动"), [&] {
    if (unit == wdStory) {
      // Through a text cursor of the main text, which sections do not stop.
      Reference<text::XTextCursor> to = d.body->createTextCursorByRange(
          extend == wdExtend ? d.view->getStart() : d.body->getEnd());
      to->gotoEnd(extend == wdExtend);
      Selector(d)->select(Any(to));
    } else {
      Reference<css::view::XLineCursor>(d.view, UNO_QUERY_THROW)->gotoEndOfLine(extend == wdExtend);
    }
  });
}

namespace {
// Runs a command of the document's own editing view at its cursor, as typing would.
void Command(OfficeServer::Impl& server, DocumentState& d, const char* command) {
  Reference<css::frame::XDispatchProvider> frame(d.controller->getFrame(), UNO_QUERY_THROW);
  Reference<css::frame::XDispatchHelper> helper = css::frame::DispatchHelper::create(server.remote);
  helper->executeDispatch(frame, OUString::createFromAscii(command), "", 0, {});
}
}  // namespace

namespace {
// The page the view shows `range` on.
int PageOf(DocumentState& d, const Reference<text::XTextRange>& range) {
  d.view->gotoRange(range, false);
  return Reference<text::XPageCursor>(d.view, UNO_QUERY_THROW)->getPage();
}

}  // namespace

namespace {
// The row (counted from 0) a cell name such as "B7" or "B7.1.2" stands in.
sal_Int32 RowOfCell(const OUString& name) {
  sal_Int32 digits = 0;
  while (digits < name.getLength() && (name[digits] < u'0' || name[digits] > u'9')) ++digits;
  sal_Int32 end = name.indexOf('.');
  if (end < 0) end = name.getLength();
  return name.copy(digits, end - digits).toInt32() - 1;
}

// Whether `inner` is `outer` or a table inside one of its cells, at any depth.
bool HoldsTable(const Reference<text::XTextTable>& outer,
                const Reference<text::XTextTable>& inner) {
  if (!outer.is()) return false;
  if (Reference<css::uno::XInterface>(outer, UNO_QUERY) ==
      Reference<css::uno::XInterface>(inner, UNO_QUERY))
    return true;
  for (const OUString& name : outer->getCellNames()) {
    Reference<css::container::XEnumerationAccess> cell(outer->getCellByName(name), UNO_QUERY);
    if (!cell.is()) continue;
    const Reference<css::container::XEnumeration> items = cell->createEnumeration();
    while (items->hasMoreElements())
      if (HoldsTable(Reference<text::XTextTable>(items->nextElement(), UNO_QUERY), inner))
        return true;
  }
  return false;
}

// The page where the content of `cell` starts (`last`: ends), looking into
// the tables inside it: the cell's own start and end stand elsewhere when a
// table opens or closes it.
int CellPage(DocumentState& d, const Reference<text::XText>& cell, bool last) {
  Reference<css::uno::XInterface> item;
  const Reference<css::container::XEnumeration> items =
      Reference<css::container::XEnumerationAccess>(cell, UNO_QUERY_THROW)->createEnumeration();
  while (items->hasMoreElements()) {
    items->nextElement() >>= item;
    if (!last) break;
  }
  if (Reference<text::XTextTable> inner(item, UNO_QUERY); inner.is()) {
    int page = 0;
    for (const OUString& name : inner->getCellNames()) {
      const int at =
          CellPage(d, Reference<text::XText>(inner->getCellByName(name), UNO_QUERY_THROW), last);
      if (!last) return at;
      page = std::max(page, at);
    }
    return page;
  }
  if (Reference<text::XTextRange> paragraph(item, UNO_QUERY); paragraph.is())
    return PageOf(d, last ? paragraph->getEnd() : paragraph->getStart());
  return PageOf(d, last ? cell->getEnd() : cell->getStart());
}

// The last page that row `row` of `table` reaches, over all its cells: a
// cell beside a short one may run on over the page.
int RowEndPage(DocumentState& d, const Reference<text::XTextTable>& table, sal_Int32 row) {
  int last = 0;
  for (const OUString& name : table->getCellNames()) {
    if (RowOfCell(name) != row) continue;
    Reference<text::XText> cell(table->getCellByName(name), UNO_QUERY);
    if (cell.is()) last = std::max(last, CellPage(d, cell, true));
  }
  return last;
}
}  // namespace

namespace {
// The first of `lo`..`hi` whose page, as `pageOf` tells, is `number` or
// later; `hi` when none is. Pages grow along the range.
template <typename PageOf>
sal_Int32 FirstOnPage(sal_Int32 lo, sal_Int32 hi, int number, PageOf pageOf) {
  while (lo < hi) {
    const sal_Int32 mid = (lo + hi) / 2;
    if (pageOf(mid) >= number)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

// Where page `number` starts in each cell of row `row`: the first paragraph
// or table of the cell that reaches the page, and for a paragraph that runs
// onto it, the first position on the page. Empty where the row cannot be cut
// so: a table inside a cell runs across the page, a paragraph too long to
// walk, split cells, or no cell whose text runs on from one page to the next.
std::vector<WordDocument::CellCut> CutRow(DocumentState& d,
                                          const Reference<text::XTextTable>& table, sal_Int32 row,
                                          int number) {
  std::vector<WordDocument::CellCut> cuts;
  bool straddles = false;
  for (const OUString& name : table->getCellNames()) {
    if (RowOfCell(name) != row) continue;
    if (name.indexOf('.') >= 0) return {};
    Reference<text::XText> cell(table->getCellByName(name), UNO_QUERY_THROW);
    WordDocument::CellCut cut{FromOU(name), 0, 0};
    const Reference<css::container::XEnumeration> items =
        Reference<css::container::XEnumerationAccess>(cell, UNO_QUERY_THROW)->createEnumeration();
    bool found = false;
    for (; items->hasMoreElements(); ++cut.item) {
      Reference<css::uno::XInterface> item(items->nextElement(), UNO_QUERY);
      if (Reference<text::XTextTable> inner(item, UNO_QUERY); inner.is()) {
        int first = 0, last = 0;
        for (const OUString& in : inner->getCellNames()) {
          Reference<text::XText> part(inner->getCellByName(in), UNO_QUERY_THROW);
          const int a = CellPage(d, part, false), b = CellPage(d, part, true);
          first = first == 0 ? a : std::min(first, a);
          last = std::max(last, b);
        }
        if (last < number) continue;
        if (first < number) return {};
        found = true;
        break;
      }
      Reference<text::XTextRange> paragraph(item, UNO_QUERY);
      if (!paragraph.is() || PageOf(d, paragraph->getEnd()) < number) continue;
      if (PageOf(d, paragraph->getStart()) >= number) {
        found = true;
        break;
      }
      const sal_Int32 length = paragraph->getString().getLength();
      if (length > 30000) return {};
      // The page of each position grows along the paragraph: the first one
      // on the page is found by halving.
      Reference<text::XTextCursor> at = cell->createTextCursorByRange(paragraph->getStart());
      Reference<text::XTextRangeCompare> order(cell, UNO_QUERY_THROW);
      // Past the paragraph's end (a field is one position, however long its
      // text) counts as on the page.
      auto pageAt = [&](sal_Int32 offset) {
        at->gotoRange(paragraph->getStart(), false);
        at->goRight(static_cast<sal_Int16>(offset), false);
        const Reference<text::XTextRange> here(at, UNO_QUERY_THROW);
        if (order->compareRegionStarts(here, paragraph->getEnd()) <= 0) return number;
        return PageOf(d, here);
      };
      const sal_Int32 lo = FirstOnPage(1, length, number, pageAt);
      // No line of it on the page: only the space below it was (a cell
      // centred in a row that runs on).
      if (lo >= length || pageAt(lo) < number ||
          order->compareRegionStarts(Reference<text::XTextRange>(at, UNO_QUERY_THROW),
                                     paragraph->getEnd()) <= 0)
        continue;
      found = true;
      cut.offset = lo;
      break;
    }
    // Some cell must run on from one page to the next: a row whose cells
    // each lie on one page or the other only crossed it in the layout.
    straddles = straddles || (found && (cut.item > 0 || cut.offset > 0));
    cuts.push_back(std::move(cut));
  }
  if (!straddles) return {};
  return cuts;
}

bool IsHidden(const Reference<css::uno::XInterface>& paragraph) {
  bool hidden = false;
  Reference<css::beans::XPropertySet> props(paragraph, UNO_QUERY);
  Reference<css::lang::XServiceInfo> info(paragraph, UNO_QUERY);
  if (props.is() && info.is() && info->supportsService("com.sun.star.text.Paragraph"))
    props->getPropertyValue("CharHidden") >>= hidden;
  return hidden;
}
}  // namespace

WordDocument::PageStart WordDocument::StartOfPage(int page) {
  DocumentState& d = *state_;
  Map(*this);
  return Do(*this, PW_TR_NOOP("office", "定位页"), [&] {
    PageStart at;
    const std::vector<int>& pages = RealPages(d);
    if (page > static_cast<int>(pages.size()) || pages[std::max(1, page) - 1] > 32767) {
      at.end = at.next = d.length;
      return at;
    }
    const int number = pages[std::max(1, page) - 1];
    Reference<text::XPageCursor> pc(d.view, UNO_QUERY_THROW);
    pc->jumpToPage(static_cast<sal_Int16>(number));
    pc->jumpToStartOfPage();
    const Reference<text::XTextRange> top = d.view->getStart();
    at.end = at.next = PositionOf(d, top);
    Reference<text::XTextTable> table(
        Reference<css::beans::XPropertySet>(d.view, UNO_QUERY_THROW)->getPropertyValue("TextTable"),
        UNO_QUERY);
    if (!table.is()) return at;
    // Only a table of the main text (or one inside a cell of it: then the
    // table of the main text holding it) that follows a paragraph: a part
    // can start at that paragraph's end.
    const auto block = std::find_if(d.blocks.begin(), d.blocks.end(), [&](const Block& b) {
      return b.table.is() && HoldsTable(Reference<text::XTextTable>(b.table, UNO_QUERY), table);
    });
    if (block == d.blocks.end() || block == d.blocks.begin() || !(block - 1)->paragraph.is())
      return at;
    table.set(block->table, UNO_QUERY_THROW);
    // Pictures and shapes anchored in its cells would stay behind when rows
    // go: such a table is not cut between rows, only inside its one row. One
    // set in a cell's text as a character goes with its row.
    bool pictures = false;
    try {
      Reference<css::container::XIndexAccess> shapes(
          Reference<css::drawing::XDrawPageSupplier>(d.model, UNO_QUERY_THROW)->getDrawPage(),
          UNO_QUERY_THROW);
      for (sal_Int32 i = 0; i < shapes->getCount(); ++i) {
        Reference<text::XTextContent> shape(shapes->getByIndex(i), UNO_QUERY);
        Reference<text::XTextRange> anchor = shape.is() ? shape->getAnchor() : nullptr;
        Reference<text::XText> owner = anchor.is() ? anchor->getText() : nullptr;
        if (!owner.is() || owner == d.body) continue;
        text::TextContentAnchorType type = text::TextContentAnchorType_AT_PARAGRAPH;
        Reference<css::beans::XPropertySet>(shape, UNO_QUERY_THROW)
            ->getPropertyValue("AnchorType") >>= type;
        if (type == text::TextContentAnchorType_AS_CHARACTER) continue;
        Reference<css::beans::XPropertySet> in(owner->createTextCursorByRange(anchor->getStart()),
                                               UNO_QUERY_THROW);
        if (HoldsTable(table,
                       Reference<text::XTextTable>(in->getPropertyValue("TextTable"), UNO_QUERY)))
          pictures = true;
      }
    } catch (const css::uno::Exception&) {
      return at;
    }
    Reference<css::table::XCellRange> cells(table, UNO_QUERY_THROW);
    auto rowStartPage = [&](sal_Int32 row) {
      return CellPage(d, Reference<text::XText>(cells->getCellByPosition(0, row), UNO_QUERY_THROW),
                      false);
    };
    const sal_Int32 rows = table->getRows()->getCount();
    // The first row that starts on this page or later: rows start in order.
    sal_Int32 lo = 0;
    try {
      lo = FirstOnPage(0, rows, number, rowStartPage);
      // A row above reaching onto this page is cut inside, or goes whole with
      // the rows after it.
      if (lo > 0 && (lo == rows || RowEndPage(d, table, lo - 1) >= number)) {
        bool repeat = false;
        sal_Int32 heading = 0;
        Reference<css::beans::XPropertySet> props(table, UNO_QUERY_THROW);
        props->getPropertyValue("RepeatHeadline") >>= repeat;
        props->getPropertyValue("HeaderRowCount") >>= heading;
        // A table with pictures in its cells loses no rows: only its one row
        // is cut inside.
        if ((!repeat || lo - 1 >= heading) && (!pictures || rows == 1))
          at.cells = CutRow(d, table, lo - 1, number);
        if (at.cells.empty()) {
          --lo;
          at.rowMoved = true;
        }
      }
    } catch (const css::lang::IndexOutOfBoundsException&) {
      d.view->gotoRange(top, false);
      return at;  // cells merged across rows or columns: no plain grid of rows to cut
    }
    d.view->gotoRange(top, false);
    if (pictures && at.cells.empty()) {
      at.rowMoved = false;
      return at;  // left as it is, in the part before
    }
    if (lo == 0) {
      // The table starts the page, or its first row runs onto it: the part
      // after takes the whole table, from the end of the paragraph before.
      // Hidden paragraphs right before it (a form's "Top of Form" mark) go
      // with it, as a selection cannot end in hidden text.
      auto before = block - 1;
      while (before != d.blocks.begin() && before->paragraph.is() && IsHidden(before->paragraph))
        --before;
      if (!before->paragraph.is() || IsHidden(before->paragraph)) {
        at.rowMoved = false;
        return at;  // the table stays with the part before
      }
      at.end = at.next = before->start + before->chars;
      return at;
    }
    at.end = block->start + block->length;
    at.next = block->start - 1;  // the end of the paragraph before the table
    at.row = lo;
    return at;
  });
}

bool WordDocument::InsideParagraph(int pos) {
  DocumentState& d = *state_;
  Map(*this);
  for (const Block& b : d.blocks)
    if (pos > b.start && pos < b.start + b.length)
      return b.paragraph.is() && pos < b.start + b.chars;
  return false;
}

bool WordDocument::BreaksPageAt(int pos) {
  DocumentState& d = *state_;
  Map(*this);
  for (const Block& b : d.blocks) {
    if (b.start != pos || !b.paragraph.is()) continue;
    return Do(*this, PW_TR_NOOP("office", "定位页"), [&] {
      Reference<css::beans::XPropertySet> props(b.paragraph, UNO_QUERY_THROW);
      css::style::BreakType type = css::style::BreakType_NONE;
      props->getPropertyValue("BreakType") >>= type;
      OUString desc;
      props->getPropertyValue("PageDescName") >>= desc;
      return type != css::style::BreakType_NONE || !desc.isEmpty();
    });
  }
  return false;
}

namespace {
// The paragraphs and tables of the main text, in order.
std::vector<Reference<css::uno::XInterface>> BodyParts(DocumentState& d) {
  std::vector<Reference<css::uno::XInterface>> parts;
  Reference<css::container::XEnumeration> items =
      Reference<css::container::XEnumerationAccess>(d.body, UNO_QUERY_THROW)->createEnumeration();
  while (items->hasMoreElements()) parts.emplace_back(items->nextElement(), UNO_QUERY);
  return parts;
}

void RemoveRows(const Reference<text::XTextTable>& table, sal_Int32 from, sal_Int32 to) {
  if (to <= from) return;
  // The office keeps a row that holds a table of its own: those go first.
  for (const OUString& name : table->getCellNames()) {
    const sal_Int32 row = RowOfCell(name);
    if (row < from || row >= to) continue;
    Reference<css::container::XEnumerationAccess> cell(table->getCellByName(name), UNO_QUERY);
    if (!cell.is()) continue;
    std::vector<Reference<css::lang::XComponent>> inner;
    const Reference<css::container::XEnumeration> items = cell->createEnumeration();
    while (items->hasMoreElements()) {
      Reference<text::XTextTable> nested(items->nextElement(), UNO_QUERY);
      if (nested.is()) inner.emplace_back(nested, UNO_QUERY);
    }
    for (const auto& t : inner)
      if (t.is()) t->dispose();
  }
  table->getRows()->removeByIndex(from, to - from);
}
}  // namespace

namespace {
// Keeps of each cell of a row cut inside what lies before the cut (`head`
// false) or from the cut on (`head` true), and lets the row grow and shrink
// with what it keeps.
void TrimCells(const Reference<text::XTextTable>& table, sal_Int32 row,
               const std::vector<WordDocument::CellCut>& cuts, bool head) {
  for (const WordDocument::CellCut& cut : cuts) {
    Reference<text::XText> cell(table->getCellByName(OUString::createFromAscii(cut.cell.c_str())),
                                UNO_QUERY);
    if (!cell.is()) continue;
    std::vector<Reference<css::uno::XInterface>> items;
    const Reference<css::container::XEnumeration> all =
        Reference<css::container::XEnumerationAccess>(cell, UNO_QUERY_THROW)->createEnumeration();
    while (all->hasMoreElements()) items.emplace_back(all->nextElement(), UNO_QUERY);
    const int count = static_cast<int>(items.size());
    auto drop = [&](int i) {
      try {
        Reference<css::lang::XComponent>(items[i], UNO_QUERY_THROW)->dispose();
      } catch (const css::uno::Exception&) {
        if (Reference<text::XTextRange> text(items[i], UNO_QUERY); text.is()) text->setString("");
      }
    };
    auto empty = [&] {
      for (int i = count; i-- > 0;)
        if (Reference<text::XTextTable>(items[i], UNO_QUERY).is()) drop(i);
      Reference<text::XTextCursor> whole = cell->createTextCursor();
      whole->gotoStart(false);
      whole->gotoEnd(true);
      whole->setString("");
      // The cell showed nothing on this page: its paragraph takes no height.
      const Reference<css::container::XEnumeration> rest =
          Reference<css::container::XEnumerationAccess>(cell, UNO_QUERY_THROW)->createEnumeration();
      Reference<css::beans::XPropertySet> left;
      if (rest->hasMoreElements()) left.set(rest->nextElement(), UNO_QUERY);
      if (left.is()) MakeLow(left);
    };
    Reference<css::beans::XPropertySet> at =
        cut.item < count ? Reference<css::beans::XPropertySet>(items[cut.item], UNO_QUERY)
                         : nullptr;
    Reference<text::XTextRange> paragraph(at, UNO_QUERY);
    Reference<css::lang::XServiceInfo> kind(at, UNO_QUERY);
    if (!kind.is() || !kind->supportsService("com.sun.star.text.Paragraph")) paragraph.clear();
    if (head) {
      if (cut.item >= count) {
        empty();
        continue;
      }
      for (int i = cut.item; i-- > 0;) drop(i);
      if (cut.offset > 0 && paragraph.is()) {
        Reference<text::XTextCursor> before = cell->createTextCursorByRange(paragraph->getStart());
        before->goRight(static_cast<sal_Int16>(cut.offset), true);
        before->setString("");
        // The paragraph runs on from the page before: no spacing above it
        // and no first-line indent or number, as its page showed it.
        at->setPropertyValue("ParaTopMargin", Any(sal_Int32(0)));
        at->setPropertyValue("ParaFirstLineIndent", Any(sal_Int32(0)));
        bool numbered = false;
        at->getPropertyValue("NumberingIsNumber") >>= numbered;
        if (numbered) at->setPropertyValue("NumberingIsNumber", Any(false));
      }
    } else {
      if (cut.item >= count) continue;
      for (int i = count; i-- > cut.item + 1;) drop(i);
      if (cut.offset > 0 && paragraph.is()) {
        Reference<text::XTextCursor> after = cell->createTextCursorByRange(paragraph->getStart());
        after->goRight(static_cast<sal_Int16>(cut.offset), false);
        Reference<text::XParagraphCursor>(after, UNO_QUERY_THROW)->gotoEndOfParagraph(true);
        after->setString("");
        at->setPropertyValue("ParaBottomMargin", Any(sal_Int32(0)));
      } else if (cut.item > 0) {
        drop(cut.item);  // a paragraph or table all on the next page
      } else {
        empty();
      }
    }
  }
  try {
    Reference<css::beans::XPropertySet>(table->getRows()->getByIndex(row), UNO_QUERY_THROW)
        ->setPropertyValue("IsAutoHeight", Any(true));
  } catch (const css::uno::Exception&) {
  }
}
}  // namespace

void WordDocument::FitPart(const Edges& edges) {
  DocumentState& d = *state_;
  Do(*this, PW_TR_NOOP("office", "整理"), [&] {
    std::vector<Reference<css::uno::XInterface>> parts = BodyParts(d);
    if (parts.empty()) return;
    auto tableAt = [&](std::size_t i) { return Reference<text::XTextTable>(parts[i], UNO_QUERY); };
    auto props = [&](std::size_t i) {
      return Reference<css::beans::XPropertySet>(parts[i], UNO_QUERY_THROW);
    };
    // The empty paragraph `i` before table `t` that starts the part: as low
    // as a paragraph gets, the table right under it on the same page.
    auto LowBefore = [&](std::size_t i, std::size_t t) {
      MakeLow(props(i));
      css::style::BreakType type = css::style::BreakType_NONE;
      props(t)->getPropertyValue("BreakType") >>= type;
      if (type != css::style::BreakType_NONE)
        props(t)->setPropertyValue("BreakType", Any(css::style::BreakType_NONE));
      OUString desc;
      props(t)->getPropertyValue("PageDescName") >>= desc;
      if (desc.isEmpty()) return;
      // The paragraph holds the page setup already.
      try {
        props(t)->setPropertyValue("PageDescName", Any(OUString()));
      } catch (const css::uno::Exception&) {
      }
    };
    // A row cut inside at either end: the cells first, while the rows are
    // still those of the source.
    if (!edges.lastRowCuts.empty())
      for (std::size_t i = parts.size(); i-- > 0;)
        if (Reference<text::XTextTable> t = tableAt(i); t.is()) {
          TrimCells(t, edges.lastTableEnd - 1, edges.lastRowCuts, false);
          break;
        }
    if (!edges.firstRowCuts.empty())
      for (std::size_t i = 0; i < parts.size(); ++i)
        if (Reference<text::XTextTable> t = tableAt(i); t.is()) {
          TrimCells(t, edges.firstTableStart, edges.firstRowCuts, true);
          break;
        }
    // The rows of the table cut at either end.
    if (edges.lastTableEnd >= 0) {
      for (std::size_t i = parts.size(); i-- > 0;)
        if (Reference<text::XTextTable> t = tableAt(i); t.is()) {
          const sal_Int32 rows = t->getRows()->getCount();
          if (rows > edges.lastTableEnd) RemoveRows(t, edges.lastTableEnd, rows);
          break;
        }
    }
    if (edges.firstTableStart >= 0) {
      for (std::size_t i = 0; i < parts.size(); ++i) {
        Reference<text::XTextTable> t = tableAt(i);
        if (!t.is()) continue;
        bool repeat = false;
        sal_Int32 heading = 0;
        props(i)->getPropertyValue("RepeatHeadline") >>= repeat;
        props(i)->getPropertyValue("HeaderRowCount") >>= heading;
        const sal_Int32 keep = repeat ? std::min(heading, sal_Int32(edges.firstTableStart)) : 0;
        if (t->getRows()->getCount() <= edges.firstTableStart) {
          // Cut at both ends at the same row (a row taller than the pages
          // went whole to a later part): none of its rows are this part's.
          Reference<css::lang::XComponent>(t, UNO_QUERY_THROW)->dispose();
          parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
        RemoveRows(t, keep, edges.firstTableStart);
        // The empty paragraph before it stays, as low as a paragraph gets:
        // it holds the page setup, which a saved .docx takes only from a
        // paragraph.
        if (i == 1 && Reference<text::XTextRange>(parts[0], UNO_QUERY_THROW)->getString().isEmpty())
          LowBefore(0, 1);
        break;
      }
    }
    Reference<text::XTextRange> first(parts.front(), UNO_QUERY);
    // The office adds no spacing above a paragraph that a page starts with
    // once the page before is full, but does at the start of a document.
    if (edges.startsAtPageTop && !edges.startsInParagraph && first.is() && !tableAt(0).is()) {
      props(0)->setPropertyValue("ParaTopMargin", Any(sal_Int32(0)));
      // A page that starts with a table: the part starts with the end of the
      // paragraph before it, which holds the page setup.
      std::size_t t = 1;
      while (t < parts.size() && !tableAt(t).is() && IsHidden(parts[t])) ++t;
      if (t < parts.size() && tableAt(t).is() && first->getString().isEmpty()) LowBefore(0, t);
    }
    if (edges.startsInParagraph && first.is() && !tableAt(0).is()) {
      props(0)->setPropertyValue("ParaTopMargin", Any(sal_Int32(0)));
      props(0)->setPropertyValue("ParaFirstLineIndent", Any(sal_Int32(0)));
      bool numbered = false;
      props(0)->getPropertyValue("NumberingIsNumber") >>= numbered;
      if (numbered) props(0)->setPropertyValue("NumberingIsNumber", Any(false));
    }
    if (first.is() && !tableAt(0).is()) KeepSpacingAbove(props(0));
    const std::size_t last = parts.size() - 1;
    if (edges.endsInParagraph) {
      if (!tableAt(last).is()) props(last)->setPropertyValue("ParaBottomMargin", Any(sal_Int32(0)));
      return;
    }
    // The content ended with a paragraph end of its own: the empty paragraph
    // after it is the part's, not the source's.
    Reference<text::XTextRange> end(parts[last], UNO_QUERY);
    if (last == 0 || !end.is() || tableAt(last).is() || !end->getString().isEmpty()) return;
    if (!tableAt(last - 1).is()) {
      Reference<text::XTextCursor> join = d.body->createTextCursorByRange(d.body->getEnd());
      join->goLeft(1, true);
      join->setString("");
    } else {
      // After a table a paragraph must stay: as low as a paragraph gets.
      MakeLow(props(last));
    }
  });
  Invalidate(d);
}

bool WordDocument::EndOnPages(int pages) {
  DocumentState& d = *state_;
  if (pages != 1) return true;
  return Do(*this, PW_TR_NOOP("office", "整理"), [&] {
    const std::vector<int> laid = RealPages(d);
    const int count = static_cast<int>(laid.size());
    if (count == 0) return true;
    Reference<text::XPageCursor> pc(d.view, UNO_QUERY_THROW);
    const Reference<text::XTextRange> keep = d.view->getStart();
    pc->jumpToPage(static_cast<sal_Int16>(laid.front()));
    OUString name;
    Reference<css::beans::XPropertySet>(d.view, UNO_QUERY_THROW)
        ->getPropertyValue("PageStyleName") >>= name;
    d.view->gotoRange(keep, false);
    Reference<css::container::XNameAccess> styles(
        Reference<css::style::XStyleFamiliesSupplier>(d.model, UNO_QUERY_THROW)
            ->getStyleFamilies()
            ->getByName("PageStyles"),
        UNO_QUERY_THROW);
    if (name.isEmpty() || !styles->hasByName(name)) return count == 1;
    Reference<css::beans::XPropertySet> style(styles->getByName(name), UNO_QUERY_THROW);
    sal_Int32 margin = 0;
    style->getPropertyValue("BottomMargin") >>= margin;
    // Hundredths of a millimetre. The part saved and opened again may want a
    // hair more than this layout does: one that fits gets a spare too. A
    // table's repeated heading rows may want up to a line more here than on
    // the source's page.
    for (const sal_Int32 less : {30, 60, 100, 200, 400, 700}) {
      if (less > margin) break;
      style->setPropertyValue("BottomMargin", Any(margin - less));
      Invalidate(d);
      if (RealPages(d).size() == 1) return true;
    }
    style->setPropertyValue("BottomMargin", Any(margin));
    Invalidate(d);
    return false;
  });
}

void WordSelection::InsertBreak() {
  WordDocument& doc = Active(app_);
  Do(doc, PW_TR_NOOP("office", "插入分页符"),
     [&] { Command(Server(app_), doc.state(), ".uno:InsertPagebreak"); });
  Invalidate(doc.state());
}

void WordSelection::TypeParagraph() {
  WordDocument& doc = Active(app_);
  Do(doc, PW_TR_NOOP("office", "插入回车符"),
     [&] { Command(Server(app_), doc.state(), ".uno:InsertPara"); });
  Invalidate(doc.state());
}

int WordSelection::Information(int what) {
  WordDocument& doc = Active(app_);
  if (what != wdNumberOfPagesInDocument) return 0;
  return doc.PageCount();
}

void WordSelection::GoTo(int what, int which, const std::string& count) {
  WordDocument& doc = Active(app_);
  if (what != wdGoToPage || which != wdGoToAbsolute) return;
  const long page = std::strtol(count.c_str(), nullptr, 10);
  DocumentState& d = doc.state();
  Do(doc, PW_TR_NOOP("office", "定位页"), [&] {
    const std::vector<int>& pages = RealPages(d);
    if (page > static_cast<long>(pages.size()) || pages[std::max(1L, page) - 1] > 32767) {
      d.view->gotoEnd(false);
      return;
    }
    Reference<text::XPageCursor> pc(d.view, UNO_QUERY_THROW);
    pc->jumpToPage(static_cast<sal_Int16>(pages[std::max(1L, page) - 1]));
    pc->jumpToStartOfPage();
  });
}

int WordSelection::Start() {
  WordDocument& doc = Active(app_);
  if (HasAgent(doc))
    return Ask(doc, "Where", PW_TR_NOOP("office", "定位"), {{"Edge", Any(sal_Int32(0))}})[0];
  Map(doc);
  return Do(doc, PW_TR_NOOP("office", "定位"),
            [&] { return PositionOf(doc.state(), doc.state().view->getStart()); });
}

int WordSelection::End() {
  WordDocument& doc = Active(app_);
  if (HasAgent(doc))
    return Ask(doc, "Where", PW_TR_NOOP("office", "定位"), {{"Edge", Any(sal_Int32(1))}})[0];
  Map(doc);
  return Do(doc, PW_TR_NOOP("office", "定位"),
            [&] { return PositionOf(doc.state(), doc.state().view->getEnd()); });
}

namespace {
void MoveWords(WordDocument& doc, int count, bool right) {
  DocumentState& d = doc.state();
  Do(doc, PW_TR_NOOP("office", "移动"), [&] {
    Reference<text::XText> owner = d.view->getText();
    Reference<text::XTextCursor> c =
        owner->createTextCursorByRange(right ? d.view->getEnd() : d.view->getStart());
    Reference<text::XWordCursor> words(c, UNO_QUERY_THROW);
    int n = count;
    // A selection collapses to its edge first, which counts as one move.
    if (!d.view->isCollapsed()) --n;
    for (; n > 0; --n)
      if (!(right ? words->gotoNextWord(false) : words->gotoPreviousWord(false))) break;
    d.view->gotoRange(AsRange(c), false);
  });
}
}  // namespace

void WordSelection::MoveRight(int unit, int count) {
  if (unit == wdWord) MoveWords(Active(app_), count, true);
}

void WordSelection::MoveLeft(int unit, int count) {
  if (unit == wdWord) MoveWords(Active(app_), count, false);
}

// ---- dialogs --------------------------------------------------------------

void WordCountDialog::Execute() {
  characters_ = app_->ActiveDocument().CharacterCount();
}

WordCountDialog WordDialogs::Item(int) {
  return WordCountDialog(app_);
}

// ---- application ----------------------------------------------------------

WordApplication::WordApplication(OfficeServer& server)
    : server_(server),
      documents_(*this),
      selection_(*this),
      dialogs_(*this),
      carrier_(std::make_unique<Carrier>()) {
  server_.Start();
}

WordApplication::~WordApplication() {
  try {
    documents_.Close();
  } catch (...) {
  }
}

WordDocument& WordApplication::ActiveDocument() {
  if (documents_.open_.empty())
    throw OfficeError({}, PW_TR_NOOP("office", "操作文档"), PW_TR_NOOP("office", "没有打开的文档"));
  return *documents_.open_.back();
}

void WordApplication::ReleaseCarrier() {
  std::unique_ptr<WordDocument> closed = std::move(carrier_->closedSource);
  carrier_->source = nullptr;
  carrier_->selection.clear();
  closed.reset();  // closes it
}

void WordApplication::Quit() {
  documents_.Close();
  server_.Shutdown();
}

}  // namespace pw::word
