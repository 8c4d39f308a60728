// The promotional link labels, their ticker, the daily page and the main menu.

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QUrl>

#include "app/dialogs.h"
#include "app/guide.h"
#include "app/mainwindow.h"
#include "app/widgets.h"
#include "platform/paths.h"
#include "platform/promo/fetch.h"
#include "platform/promo/promo.h"
#include "platform/settings.h"
#include "platform/shell.h"

namespace pw {
namespace {

void StyleLink(ClickLabel* label, const QColor& colour) {
  label->setTextFormat(Qt::PlainText);  // the texts come from a web page
  QFont f = label->font();
  f.setUnderline(true);
  label->setFont(f);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, colour);
  label->setPalette(pal);
}

}  // namespace

void TMainForm::buildMainMenu() {
  mainMenu_ = new QMenu(this);
  mainMenu_->setObjectName("PopupMenu1");
  auto add = [this](const char* name, const char* text, void (TMainForm::*handler)()) {
    QAction* action = mainMenu_->addAction(tr(text));
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  };
  add("N1", QT_TR_NOOP("操作演示"), &TMainForm::N1Click);
  mainMenu_->addSeparator();
  add("N3", QT_TR_NOOP("错误报告"), &TMainForm::N3Click);
  add("N4", QT_TR_NOOP("官方网站"), &TMainForm::N4Click);
  mainMenu_->addSeparator();
  add("N6", QT_TR_NOOP("关于..."), &TMainForm::N6Click);
}

void TMainForm::buildPromotion() {
  const QColor darkRed(139, 0, 0);
  auto* label27 = findChild<ClickLabel*>("Label27");
  StyleLink(label27, QColor(2, 56, 103));
  label27->onClick = [this, label27] { Label28Click(label27); };

  tickerStrip_ = new QWidget(toolbar_);
  tickerStrip_->setObjectName("RzPanel19");
  label28_ = new ClickLabel("Label28", QString(), tickerStrip_);
  label29_ = new ClickLabel("Label29", QString(), tickerStrip_);
  for (ClickLabel* label : {label28_, label29_}) {
    StyleLink(label, darkRed);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->onClick = [this, label] { Label28Click(label); };
  }
  label28_->move(0, ticker_.top28);
  label29_->move(0, ticker_.top29);

  const PromoEndpoints endpoints = ReadEndpoints();
  if (IsOpenableLink(endpoints.website)) {
    auto* label4 = new ClickLabel("Label4", QString(), bottomBar_);
    StyleLink(label4, QColor(2, 56, 103));
    label4->setText(tr("官方网站：") + QUrl(QString::fromStdString(endpoints.website)).host());
    label4->move(10, 4);
    label4->adjustSize();
    label4->onClick = [this] { N4Click(); };
    status_->move(label4->x() + label4->width() + 20, status_->y());
  }

  timer1_ = new QTimer(this);
  timer1_->setInterval(10000);
  connect(timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
  timer1_->start();
  timer2_ = new QTimer(this);
  timer2_->setInterval(15);
  connect(timer2_, &QTimer::timeout, this, [this] { Timer2Timer(); });
}

void TMainForm::Timer1Timer() {
  ticker_ = TickerSlowTick(ticker_);
  label28_->move(0, ticker_.top28);
  label29_->move(0, ticker_.top29);
  timer2_->start();
}

void TMainForm::Timer2Timer() {
  ticker_ = TickerStep(ticker_);
  label28_->move(0, ticker_.top28);
  label29_->move(0, ticker_.top29);
  if (!ticker_.scrolling) timer2_->stop();
}

void TMainForm::Label28Click(ClickLabel* sender) {
  const QString name = sender->objectName();
  const char* key = name == "Label27" ? "link1" : name == "Label28" ? "link2" : "link3";
  const std::string target = ReadSetting("main", key, "");
  if (IsOpenableLink(target)) ShellOpen(target);
}

// The guide is one window: asked for again while it is open, it comes to the
// front on the page it shows.
void TMainForm::OpenDemonstration(std::function<void()> onFirstShown) {
  if (guide_ == nullptr) {
    guide_ = new GuideDialog(this);
    guide_->setAttribute(Qt::WA_DeleteOnClose);
    guide_->onFirstShown = std::move(onFirstShown);
  }
  guide_->show();
  guide_->raise();
  guide_->activateWindow();
}

void TMainForm::N1Click() {
  OpenDemonstration({});
}

void TMainForm::N3Click() {
  const std::string link = ErrorReportLink(ReadEndpoints().mailbox);
  if (!link.empty()) ShellOpen(link);
}

void TMainForm::N4Click() {
  const std::string site = ReadEndpoints().website;
  if (IsOpenableLink(site)) ShellOpen(site);
}

void TMainForm::N6Click() {
  ShowMessage(this, MessageKind::Information,
              QStringLiteral("Plinthwick  Version 2.2.1\n") +
                  tr("批量合并与分割 Word、Excel、Access 与纯文本文件。\n\n"
                     "官方网站：") +
                  QString::fromStdString(ReadEndpoints().website));
}

void TMainForm::StartPromotion() {
  std::string error;
  const bool due = FirstStartOfDay(&error);
  if (!error.empty()) setStatus(QString::fromStdString(error));
  const PromoEndpoints endpoints = ReadEndpoints();
  if (!due || endpoints.page.empty()) return;
  promoFetch_ = std::make_unique<PromoFetch>(
      endpoints, [this](const PromoPage& page) { WebBrowser1DocumentComplete(page); });
}

bool TMainForm::promoFetchInProgress() const {
  return promoFetch_ && !promoFetch_->finished();
}

void TMainForm::WebBrowser1DocumentComplete(const PromoPage& page) {
  if (!page.loaded) return;
  std::string error;
  if (StorePromoPage(page.text, &error) < 0) {
    setStatus(QString::fromStdString(error));
    return;
  }
  showLinkTexts();
}

void TMainForm::showLinkTexts() {
  const char* labels[] = {"Label27", "Label28", "Label29"};
  for (int i = 0; i < 3; ++i)
    findChild<QLabel*>(labels[i])->setText(
        QString::fromStdString(ReadSetting("main", "show" + std::to_string(i + 1), "")));
}

}  // namespace pw
