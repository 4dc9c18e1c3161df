#include "app/SettingsForm.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Helper.h"

namespace calorix {
namespace {

// Keys that make a control character with Ctrl held (Ctrl+C, Ctrl+V, ...).
bool IsControlCharacterKey(int key) {
  return (key >= Qt::Key_A && key <= Qt::Key_Z) || key == Qt::Key_At ||
         key == Qt::Key_BracketLeft || key == Qt::Key_Backslash || key == Qt::Key_BracketRight ||
         key == Qt::Key_AsciiCircum || key == Qt::Key_Underscore;
}

}  // namespace

TSettingsFrm::TSettingsFrm(QWidget* parent, int& pollTime)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      FPollTime(pollTime) {
  setObjectName(QStringLiteral("SettingsFrm"));
  setWindowTitle(tr("Настройки программы"));
  QFont f(QStringLiteral("Tahoma"));
  f.setPixelSize(13);
  setFont(f);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  Label1 = new QLabel(tr("Период опроса термостата, мс"), GroupBox1);
  Label1->setObjectName(QStringLiteral("Label1"));
  edPollingTime = new QLineEdit(GroupBox1);
  edPollingTime->setObjectName(QStringLiteral("edPollingTime"));
  edPollingTime->setFixedWidth(64);
  edPollingTime->installEventFilter(this);
  Label1->setBuddy(edPollingTime);

  auto* groupLayout = new QHBoxLayout(GroupBox1);
  groupLayout->addWidget(Label1);
  groupLayout->addWidget(edPollingTime);
  groupLayout->addStretch();

  // Neither button is a default button, so Enter closes nothing.
  OkBtn = new QPushButton(QStringLiteral("OK"), this);
  OkBtn->setObjectName(QStringLiteral("OkBtn"));
  CancelBtn = new QPushButton(tr("Отмена"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  for (QPushButton* b : {OkBtn, CancelBtn}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkBtn);
  buttons->addWidget(CancelBtn);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  FSectionsLayout = new QVBoxLayout;
  layout->addLayout(FSectionsLayout);
  // Why OK did not close the dialog; said here rather than in a box of its own.
  FSectionError = new QLabel(this);
  FSectionError->setObjectName(QStringLiteral("SectionError"));
  FSectionError->setStyleSheet(QStringLiteral("color: #c00000"));
  FSectionError->setWordWrap(true);
  FSectionError->hide();
  layout->addWidget(FSectionError);
  layout->addStretch();
  layout->addLayout(buttons);

  setTabOrder(edPollingTime, OkBtn);
  setTabOrder(OkBtn, CancelBtn);
  resize(356, 110);
}

void TSettingsFrm::AddSection(TSettingsSection section) {
  FSectionsLayout->addWidget(section.Widget);
  FSections.push_back(std::move(section));
  adjustSize();
}

void TSettingsFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TSettingsFrm::keyPressEvent(QKeyEvent* event) {
  if (!FormShortCut(*event))
    QDialog::keyPressEvent(event);
}

bool TSettingsFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edPollingTime && event->type() == QEvent::KeyPress) {
    return edPollingTimeKeyPress(static_cast<const QKeyEvent&>(*event));
  }
  return QDialog::eventFilter(watched, event);
}

void TSettingsFrm::FormActivate() {
  // Every showing starts from the current period, not from the text typed
  // before an earlier cancel.
  edPollingTime->setText(QString::number(FPollTime));
  FSectionError->hide();
  for (const auto& section : FSections) {
    if (section.Load)
      section.Load();
  }
  edPollingTime->setFocus(Qt::ActiveWindowFocusReason);
  edPollingTime->selectAll();
}

bool TSettingsFrm::edPollingTimeKeyPress(const QKeyEvent& key) {
  // Escape is the dialog's shortcut before the edit sees it.
  if (FormShortCut(key))
    return true;
  switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
      return false;  // Backspace is a character the edit takes; the rest make none
    default:
      break;
  }
  if ((key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) &&
      IsControlCharacterKey(key.key())) {
    return true;  // Ctrl+C, Ctrl+V, Ctrl+X and the other control characters
  }
  const QString text = key.text();
  if (text.isEmpty())
    return false;  // navigation keys make no character
  for (QChar c : text) {
    if (!PollTimeKeyAccepted(c))
      return true;
  }
  return false;
}

bool TSettingsFrm::FormShortCut(const QKeyEvent& key) {
  if (key.key() != Qt::Key_Escape)
    return false;
  reject();
  return true;
}

void TSettingsFrm::OkBtnClick() {
  for (const auto& section : FSections) {
    const QString error = section.Check ? section.Check() : QString();
    if (!error.isEmpty()) {
      FSectionError->setText(error);
      FSectionError->show();
      return;
    }
  }
  FPollTime = PollTimeFromText(edPollingTime->text());
  for (const auto& section : FSections) {
    if (section.Apply)
      section.Apply();
  }
  accept();
}

}  // namespace calorix
