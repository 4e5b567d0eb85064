#include "ui/UAbout.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include "ostrane/Version.h"
#include "platform/Desktop.h"
#include "ui/Application.h"

namespace ostrane::ui {

namespace {

bool Open(const std::string& target) {
  if (platform::HasActiveDesktop()) platform::ActiveDesktop().ShellOpen(target);
  return true;
}

QLabel* Place(QLabel* label, int x, int y) {
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->adjustSize();
  label->move(x, y);
  return label;
}

TLinkLabel* MakeLink(QWidget* parent, const QString& text, int x, int y, int w, int h) {
  auto* link = new TLinkLabel(text, parent);
  QFont font = DesignFont(11);
  font.setUnderline(true);
  link->setFont(font);
  QPalette palette = link->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  link->setPalette(palette);
  link->setCursor(Qt::PointingHandCursor);
  link->setAttribute(Qt::WA_TranslucentBackground);
  link->setGeometry(x, y, w, h);
  return link;
}

}  // namespace

bool OpenHomePage() {
  return Open(kHomePage);
}

bool OpenSupportMail() {
  return Open(std::string("mailto:") + kSupportMail);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (OnClick) OnClick();
}

TFMAbout::TFMAbout(QWidget* owner) : QDialog(owner) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("About"));
  setFont(DesignFont(13));
  setFixedSize(322, 118);
  Label1 = new QLabel(this);
  Label1->setFont(DesignFont(13, true));
  Place(Label1, 74, 11);
  Label2 = Place(new QLabel(QString::fromLatin1(kCopyright), this), 63, 34);
  Label4 = Place(new QLabel(QStringLiteral("Web: "), this), 22, 65);
  Label5 = MakeLink(this, QString::fromLatin1(kHomePage), 64, 67, 227, 13);
  Label6 = Place(new QLabel(QStringLiteral("Email: "), this), 22, 89);
  Label7 = MakeLink(this, QString::fromLatin1(kSupportMail), 64, 91, 213, 13);
  Label5->OnClick = [this] { Label5Click(); };
  Label7->OnClick = [this] { Label7Click(); };
}

void TFMAbout::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->geometry().center() - QPoint(width() / 2, height() / 2));
  }
}

void TFMAbout::FormShow() {
  Label1->setText(QStringLiteral(OSTRANE_TITLE));
  Label1->adjustSize();
}

void TFMAbout::mousePressEvent(QMouseEvent* event) {
  event->accept();
  FormClick();
}

void TFMAbout::FormClick() {
  close();
}

void TFMAbout::Label5Click() {
  OpenHomePage();
}

void TFMAbout::Label7Click() {
  OpenSupportMail();
}

}  // namespace ostrane::ui
