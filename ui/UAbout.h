// The about box and the two links it shares with the main menu.
#pragma once

#include <QDialog>
#include <QLabel>
#include <functional>

#include "ostrane/Version.h"

namespace ostrane::ui {

inline constexpr const char* kHomePage = OSTRANE_HOME_PAGE;
inline constexpr const char* kSupportMail = OSTRANE_SUPPORT_MAIL;
inline constexpr const char* kCopyright = "Copyright (C) 2026 The Ostrane project";

// Ask the desktop's default handler to open the home page, or a new mail to the support
// address. The handler's answer is not examined: both always return true.
bool OpenHomePage();
bool OpenSupportMail();

// A label that reports clicks.
class TLinkLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> OnClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

class TFMAbout : public QDialog {
 public:
  explicit TFMAbout(QWidget* owner = nullptr);

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label4;
  TLinkLabel* Label5;
  QLabel* Label6;
  TLinkLabel* Label7;

  void FormShow();
  void FormClick();
  void Label5Click();
  void Label7Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace ostrane::ui
