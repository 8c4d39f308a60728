// The agent: a small component the program loads into its private office
// process, so that steps made of many small calls run there in one call
// instead of crossing the process boundary hundreds of times.
//
// It is a job: execute() takes the step's name under "Action" and its
// arguments. Documents are passed as the program holds them; inside the
// office they are the office's own objects again.
//
//   Paste   Source, SourceAdded, Target, Selection, Fresh, Pastes:
//           prepares the source's styles and pastes its selection at the
//           target's view cursor, as the program would do call by call;
//           answers how many tracked changes could not stay changes.
//   Open    Document, Opened: readies a document just loaded or made and
//           answers its model, text, controller and view cursor.
//   SelectAll  Document, Pad: selects the whole main text, padding it first.
//   Measure, SelectSpan, Where  Document, Generation, Padded (and Start, End
//           or Edge): positions of the main text as the program counts them,
//           from a map made once per version of the text: [length, characters],
//           [_, padded now] after selecting [Start, End), [position of the
//           view cursor's start or end, _].
//   Forget  Target: drops what the agent remembers of that document.

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/lang/XSingleServiceFactory.hpp>
#include <com/sun/star/task/XJob.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/uno/RuntimeException.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/factory.hxx>
#include <cppuhelper/implbase2.hxx>

#include <exception>
#include <map>
#include <mutex>

#include "platform/office/word_state.h"

namespace {

using namespace pw;
using namespace pw::word;
using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

constexpr char kName[] = "org.plinthwick.OfficeAgent";

class Agent : public cppu::WeakImplHelper2<css::task::XJob, css::lang::XServiceInfo> {
 public:
  Any SAL_CALL execute(const Sequence<css::beans::NamedValue>& arguments) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<OUString, Any> args;
    for (const auto& a : arguments) args[a.Name] = a.Value;
    OUString action;
    args["Action"] >>= action;
    try {
      if (action == "Paste") return Paste(args);
      if (action == "Open") return Open(args);
      if (action == "SelectAll") {
        DocumentState d;
        AttachParts(d, Reference<css::lang::XComponent>(args["Document"], UNO_QUERY));
        bool pad = false;
        args["Pad"] >>= pad;
        d.padded = !pad;
        SelectWholeStory(d);
        return {};
      }
      if (action == "Measure" || action == "SelectSpan" || action == "Where")
        return Positions(action, args);
      if (action == "Forget") {
        targets_.erase(Key(args["Target"]));
        maps_.erase(Key(args["Target"]));
        return {};
      }
    } catch (const css::uno::Exception&) {
      throw;
    } catch (const std::exception& e) {
      // Anything else would end the office process.
      throw css::uno::RuntimeException(OUString::createFromAscii(e.what()));
    }
    throw css::uno::RuntimeException("unknown action " + action);
  }

  OUString SAL_CALL getImplementationName() override { return OUString::createFromAscii(kName); }
  sal_Bool SAL_CALL supportsService(const OUString& name) override {
    return name.equalsAscii(kName);
  }
  Sequence<OUString> SAL_CALL getSupportedServiceNames() override {
    const OUString name = OUString::createFromAscii(kName);
    return Sequence<OUString>(&name, 1);
  }

 private:
  static Reference<css::uno::XInterface> Key(const Any& document) {
    return Reference<css::uno::XInterface>(document, UNO_QUERY);
  }

  static Any Open(std::map<OUString, Any>& args) {
    DocumentState d;
    AttachParts(d, Reference<css::lang::XComponent>(args["Document"], UNO_QUERY));
    if (!d.model.is()) return {};
    bool opened = false;
    args["Opened"] >>= opened;
    Settle(d, opened);
    const Any parts[] = {Any(d.model), Any(d.body), Any(d.controller), Any(d.view)};
    return Any(Sequence<Any>(parts, 4));
  }

  Any Paste(std::map<OUString, Any>& args) {
    Reference<css::lang::XComponent> sourceDoc(args["Source"], UNO_QUERY);
    Reference<css::lang::XComponent> targetDoc(args["Target"], UNO_QUERY);
    if (!sourceDoc.is() || !targetDoc.is()) throw css::uno::RuntimeException("no document");
    DocumentState& target = targets_[Key(args["Target"])];
    if (!target.model.is()) {
      AttachParts(target, targetDoc);
      target.added = true;
    }
    args["Fresh"] >>= target.fresh;
    sal_Int32 pastes = 0;
    args["Pastes"] >>= pastes;
    target.pastes = pastes;
    if (Key(args["Source"]) == Key(args["Target"])) {
      return Any(sal_Int32(PasteContent(target, target, args["Selection"])));
    }
    DocumentState source;
    AttachParts(source, sourceDoc);
    args["SourceAdded"] >>= source.added;
    if (!source.model.is() || !target.model.is())
      throw css::uno::RuntimeException("not a text document");
    PrepareStyles(source, target);
    return Any(sal_Int32(PasteContent(source, target, args["Selection"])));
  }

  // Positions in the main text, from a map made once per version of the text.
  Any Positions(const OUString& action, std::map<OUString, Any>& args) {
    Reference<css::lang::XComponent> doc(args["Document"], UNO_QUERY);
    DocumentState& d = maps_[Key(args["Document"])];
    if (!d.model.is()) AttachParts(d, doc);
    if (!d.model.is()) throw css::uno::RuntimeException("not a text document");
    sal_Int32 generation = 0;
    args["Generation"] >>= generation;
    bool padded = false;
    args["Padded"] >>= padded;
    if (!d.mapped || d.generation != generation || d.padded != padded) {
      d.padded = padded;
      d.generation = generation;
      MapText(d);
    }
    sal_Int32 answer[2] = {0, 0};
    if (action == "Measure") {
      answer[0] = d.length;
      answer[1] = d.chars;
    } else if (action == "Where") {
      sal_Int32 edge = 0;
      args["Edge"] >>= edge;
      answer[0] = PositionOf(d, edge == 0 ? d.view->getStart() : d.view->getEnd());
    } else {
      sal_Int32 start = 0, end = 0;
      args["Start"] >>= start;
      args["End"] >>= end;
      const bool wasPadded = d.padded;
      Reference<css::text::XTextCursor> cursor = d.body->createTextCursorByRange(RangeAt(d, start));
      if (end > start) cursor->gotoRange(RangeAt(d, end), true);
      Reference<css::view::XSelectionSupplier>(d.controller, UNO_QUERY_THROW)->select(Any(cursor));
      answer[1] = d.padded && !wasPadded;
    }
    return Any(Sequence<sal_Int32>(answer, 2));
  }

  std::mutex mutex_;
  std::map<Reference<css::uno::XInterface>, DocumentState> targets_;
  std::map<Reference<css::uno::XInterface>, DocumentState> maps_;
};

Reference<css::uno::XInterface> SAL_CALL Create(const Reference<css::lang::XMultiServiceFactory>&) {
  return static_cast<cppu::OWeakObject*>(new Agent);
}

}  // namespace

extern "C" SAL_DLLPUBLIC_EXPORT void* component_getFactory(const char* name, void* services,
                                                           void*) {
  if (services == nullptr || OUString::createFromAscii(name) != kName) return nullptr;
  const OUString service = OUString::createFromAscii(kName);
  Reference<css::lang::XSingleServiceFactory> factory =
      cppu::createSingleFactory(static_cast<css::lang::XMultiServiceFactory*>(services), service,
                                Create, Sequence<OUString>(&service, 1));
  factory->acquire();
  return factory.get();
}
