// The main window: both scopes, the click interval and the similarity, Start and Stop, the click
// counter, and the pass timer whose every tick runs one find-and-click pass.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <map>
#include <memory>

#include "engine/PassRunner.h"
#include "engine/Types.h"
#include "engine/search/Options.h"
#include "platform/Desktop.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace ostrane::ui {

class TCaptionButton;
class TTimer;
class TUpDown;

class TfmMian : public QMainWindow {
 public:
  // `search` says how the passes search (the program reads its level once at start-up).
  explicit TfmMian(QWidget* parent = nullptr, const search::SearchOptions& search = {});
  ~TfmMian() override;

  // The components, named as in the window's design.
  QGroupBox* GroupBox1;
  TCaptionButton* Button1;
  QLabel *Label1, *Label2, *Label3, *Label4;
  QLineEdit *edLeft1, *edTop1, *edRight1, *edBottom1;
  QGroupBox* GroupBox2;
  TCaptionButton* Button3;
  QLabel *Label6, *Label7, *Label8, *Label9;
  QLineEdit *edLeft2, *edTop2, *edRight2, *edBottom2;
  QGroupBox* GroupBox3;
  QLabel *LabelMinute, *LabelSecond, *LabelTen;
  QLineEdit *edIntMinute, *edIntSecond, *edIntTen;
  TUpDown *UpDown2, *UpDown3, *UpDown4;
  QGroupBox* GroupBox4;
  QLineEdit* edBMPSimilar;
  TUpDown* UpDown10;
  QLabel* Label19;
  TCaptionButton* btnStart;
  TCaptionButton* btnStop;
  QLabel* Label5;
  QLabel* lblCount;
  // The status line below the client area: which keys work where, and what went wrong.
  QLabel* lblStatus;
  TTimer* timerSetPoint;
  QAction* m1;
  QAction* m2;

  // Event handlers.
  void FormCreate();
  void FormClose();
  void btnStartClick();
  void btnStopClick();
  void timerSetPointTimer();
  void Button1Click();
  void Button3Click();
  void m1Click();
  void m2Click();

  // Hot keys: registered at creation, released when the window closes.
  void RegisterHotKeys();
  void WMHotKey(platform::Key key);

  // The run behind Start, Stop and the ticks.
  PassRunner& Runner() { return *runner_; }
  // How many presses of a hot key have reached the window.
  int HotKeyPresses(platform::Key key) const;
  // Whether Start's message box is open (a failed Start then opens no second one).
  bool StartMessageOpen() const { return startMessageOpen_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildComponents();
  void FitToContent();
  // Reads the twelve fields into the settings, each stored as soon as it is read; throws at the
  // first that cannot be read.
  void ReadFields();
  void ShowStartMessage();
  // The status line: the keys' note, and what the last pass could not do.
  void ShowStatus();
  // Asks the desktop for capture and input where it wants consent first; shows why when it
  // refuses. True when the program may go on.
  bool HaveDesktopAccess();
  void ReleaseHotKeys();

  std::unique_ptr<PassRunner> runner_;
  QString keysNote_;
  std::map<platform::Key, int> hotKeyPresses_;
  QString passNote_;
  bool startMessageOpen_ = false;
  bool accessPending_ = false;
  bool accessMessageOpen_ = false;
  bool localKeys_ = false;
  bool centred_ = false;
  bool closed_ = false;
};

// The status line where F9 and F10 work only while a window of the program has the focus, with
// and without the corner that stops a run.
inline constexpr const char* kLocalKeysNote = "F9/F10 work in this window only.";
inline constexpr const char* kCornerStopNote =
    " To stop from anywhere, push the pointer into the top-left corner.";

// The message Start shows when a field cannot be read.
inline constexpr const char* kScopeMessage = "You must define the scope on the screen!";

// The keys the hot keys are registered with, and the names they are registered under; the keys
// are Key::NoKey until RegisterHotKeys runs.
extern platform::Key StartHotKey;
extern platform::Key StopHotKey;
inline constexpr const char* kStartHotKeyName = "OstraneStart";
inline constexpr const char* kStopHotKeyName = "OstraneStop";

// What Start stores and every tick reads; all zero when the program starts.
RunSettings& ProgramSettings();

// Centres a top-level window, frame included where the system draws one, on the primary screen.
void CentreOnScreen(QWidget& window);

// The program's main window, once created.
extern TfmMian* fmMian;

}  // namespace ostrane::ui
