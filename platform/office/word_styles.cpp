#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/style/XStyleLoader.hpp>

#include "platform/office/word_state.h"

namespace pw::word {

using css::uno::Any;
using css::uno::UNO_QUERY_THROW;

void PrepareStyles(OfficeServer::Impl& server, DocumentState& source, DocumentState& target) {
  if (!target.fresh || source.path.empty()) return;
  server.Call(source.path, "复制样式", [&] {
    Reference<css::style::XStyleLoader> loader(
        Reference<css::style::XStyleFamiliesSupplier>(target.model, UNO_QUERY_THROW)
            ->getStyleFamilies(),
        UNO_QUERY_THROW);
    css::uno::Sequence<css::beans::PropertyValue> options =
        Props({Prop("LoadTextStyles", Any(true)), Prop("LoadFrameStyles", Any(true)),
               Prop("LoadPageStyles", Any(true)), Prop("LoadNumberingStyles", Any(true)),
               Prop("OverwriteStyles", Any(true))});
    loader->loadStylesFromURL(FileUrl(source.path), options);
  });
}

void CarryPageStyle(OfficeServer::Impl&, DocumentState&, DocumentState&,
                    const Reference<css::text::XTextRange>&) {}

}  // namespace pw::word
