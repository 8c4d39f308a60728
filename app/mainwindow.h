#pragma once
// The one window: task choice, file list, settings, and the batch run.

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/runfeed.h"
#include "app/ticker.h"
#include "batch/runner.h"
#include "filelist/filemodel.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace pw {

class ClickLabel;
class FileListView;
class GuideDialog;
class ImageButton;
class PromoFetch;
struct PromoPage;
class TaskPanel;
class TitleBar;

class TMainForm : public QWidget {
  Q_DECLARE_TR_FUNCTIONS(TMainForm)

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // Chosen task, as the window shows it.
  QString TaskKindName, TaskExtensions, TaskMode;
  QString CurrentKindPanel, CurrentModePanel;
  bool SectionToggle = false;
  std::string SourceFolder, OutputFolder, OutputBase;
  std::atomic<bool> StopFlag{false};

  FileListModel& FileRecords() { return records_; }
  bool runInProgress() const { return running_; }
  bool scanInProgress() const { return scanning_; }

  // The options of the chosen task, read from the controls.
  TaskOptions CollectOptions() const;
  TaskKind chosenKind() const;
  ::pw::TaskMode chosenMode() const;

  // Event handlers, named after the controls that fire them.
  void RzPanel70Click(TaskPanel* sender);
  void RzPanel70Hover(TaskPanel* sender, bool entered);
  void CheckBox1Click();
  void BitBtn2Click();
  void CheckBox2Click(QCheckBox* sender);
  void Image9Click();
  void Image11Click();
  void StopClick();
  void Image12Click(bool up);
  void Image14Click();
  void MenuItem1Click();
  void RzListView1Click();
  bool pickerInProgress() const { return picking_; }
  void ApplyStoredSettings();
  void addDropped(const std::vector<std::string>& paths);
  // Section of "Info.ini" for what the window remembers between starts:
  // LastFolder, OutputFolder, NameColumnWidth.
  static constexpr const char* kWindowSection = "Plinthwick";

  // The promotional panel, the ticker and the main menu.
  void StartPromotion();
  void WebBrowser1DocumentComplete(const PromoPage& page);
  void Label28Click(ClickLabel* sender);
  void Timer1Timer();
  void Timer2Timer();
  void N1Click();
  void N3Click();
  void N4Click();
  void N6Click();
  const TickerState& ticker() const { return ticker_; }
  bool promoFetchInProgress() const;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildTopBar();
  void buildMainMenu();
  void buildPromotion();
  void OpenDemonstration(std::function<void()> onFirstShown);
  void showLinkTexts();
  void buildTaskPane();
  void buildToolbar();
  void buildListArea();
  void buildSettingsColumn();
  void buildSettingsPanels(QWidget* column, int top);
  void rememberWorkbookChoices();
  void layoutRegions();
  void buildShortcuts();
  void setStatus(const QString& text);
  void setRunControlsEnabled(bool enabled);
  void startScan();
  void startScan(const std::vector<std::string>& folders, const std::vector<std::string>& files);
  void finishScan(std::uint64_t generation, int unreadable, bool ok);
  void finishRun(bool failed, bool validation, const QString& message);
  void stopScan();
  void rescan();
  void rememberFolder(const char* key, const std::string& folder);
  std::string rememberedFolder(const char* key) const;
  void applyRunReports(bool closing);
  void updateSelectAllCaption();

  FileListModel records_;
  FileListView* list_ = nullptr;
  std::map<QString, QWidget*> panels_;
  std::vector<TaskPanel*> taskPanels_;

  TitleBar* topBar_ = nullptr;
  QWidget* strip_ = nullptr;
  QWidget* buttons_ = nullptr;  // RzPanel17
  QWidget* taskPane_ = nullptr;
  QWidget* toolbar_ = nullptr;
  QWidget* bottomBar_ = nullptr;
  QWidget* pathStrip_ = nullptr;  // RzPanel10
  QLabel* pathLabel_ = nullptr;
  QWidget* progressPanel_ = nullptr;  // RzPanel12
  QWidget* settingsColumn_ = nullptr;
  QWidget* completedPanel_ = nullptr;     // RzPanel11
  QLabel* counter_ = nullptr;             // Label30
  QLabel* status_ = nullptr;              // Label1
  QLabel* taskSummary_ = nullptr;         // Label20
  ClickLabel* selectAllLabel_ = nullptr;  // Label21
  QPushButton* stopButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QMenu* listMenu_ = nullptr;  // PopupMenu2
  QMenu* mainMenu_ = nullptr;
  std::vector<QWidget*> disabledDuringRun_;

  QLineEdit* edit(const char* name) const;
  QCheckBox* check(const char* name) const;
  QRadioButton* radio(const char* name) const;

  bool running_ = false;
  bool scanning_ = false;
  bool settingsApplied_ = false;
  std::uint64_t scanGeneration_ = 0;
  std::shared_ptr<std::atomic<bool>> scanCancel_;
  std::thread scanThread_;
  std::thread runThread_;
  std::thread pickerThread_;
  std::uint64_t pickerGeneration_ = 0;
  bool picking_ = false;
  std::vector<std::uint64_t> runRecordIds_;
  std::vector<std::string> runSources_;
  RunFeed runFeed_;
  QTimer* runTimer_ = nullptr;  // shows the run's reports
  QString heldStatus_;          // the operation's last status, not shown yet
  TaskKind runKind_ = TaskKind::None;
  ::pw::TaskMode runMode_ = ::pw::TaskMode::None;
  std::array<int, 4> removed_{};  // sources trashed, deleted, not removable, replaced
  QStringList replacedSources_;   // sources another file took the place of during the run

  QWidget* tickerStrip_ = nullptr;  // RzPanel19
  ClickLabel* label28_ = nullptr;
  ClickLabel* label29_ = nullptr;
  QTimer* timer1_ = nullptr;
  QTimer* timer2_ = nullptr;
  TickerState ticker_;
  std::unique_ptr<PromoFetch> promoFetch_;
  QPointer<GuideDialog> guide_;
};

}  // namespace pw
