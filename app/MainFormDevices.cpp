// The main window's thermostats: the device menu of those the station found,
// and which of them this window's session is attached to.
#include "app/MainForm.h"
#include "app/Windows.h"
#include "base/Messages.h"
#include "link/Hid.h"

#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <algorithm>

namespace calorix {

void TMainFrm::HidControllerArrival(TJvHidDevice*) {
  RebuildDevPopup();
}

void TMainFrm::HidControllerRemoval(TJvHidDevice*) {
  RebuildDevPopup();
}

void TMainFrm::RebuildDevPopup() {
  DevPopup->clear();
  auto* group = DevPopup->findChild<QActionGroup*>(QStringLiteral("DevGroup"));
  if (!group) {
    group = new QActionGroup(DevPopup);
    group->setObjectName(QStringLiteral("DevGroup"));
    group->setExclusive(true);
  }
  const auto& devices = Devices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    TJvHidDevice* dev = devices[i];
    QAction* item = DevPopup->addAction(FStation->DeviceCaption(dev));
    item->setCheckable(true);
    item->setChecked(dev == SelectedDevice());
    item->setData(int(i));  // the item's tag: its device's position
    if (FWindows)
      item->setToolTip(LoadStr(1128));
    group->addAction(item);
    connect(item, &QAction::triggered, this,
            [this, item] { Guarded([this, item] { DevPopupItemClick(item); }); });
  }
}

void TMainFrm::DevPopupItemClick(QObject* Sender) {
  auto* item = qobject_cast<QAction*>(Sender);
  if (!item)
    return;
  item->setChecked(true);
  const int tag = item->data().toInt();
  if (tag < 0 || std::size_t(tag) >= Devices().size())
    return;
  TJvHidDevice* dev = Devices()[std::size_t(tag)];
  // One that another window shows: that window comes up, this one keeps its own.
  if (FWindows && FStation->SessionOf(dev) && FStation->SessionOf(dev) != FSession) {
    CheckSelectedDevice();
    TWindows::BringUp(FWindows->WindowOf(FStation->SessionOf(dev)));
    return;
  }
  FStation->Select(*FSession, dev);
}

void TMainFrm::OpenInNewWindow(int tag) {
  if (!FWindows || tag < 0 || std::size_t(tag) >= Devices().size())
    return;
  FWindows->Open(FStation->Serial(Devices()[std::size_t(tag)]));
}

void TMainFrm::NewWindowActionExecute() {
  if (FWindows && !FWindows->OpenNext())
    SetStatusText(1, LoadStr(1131));
}

void TMainFrm::CheckSelectedDevice() {
  const int selected = DeviceIndex(SelectedDevice());
  for (QAction* a : DevPopup->actions())
    a->setChecked(a->data().toInt() == selected);
}

int TMainFrm::DeviceIndex(const TJvHidDevice* dev) const {
  const auto& devices = Devices();
  auto it = std::find(devices.begin(), devices.end(), dev);
  return it == devices.end() ? -1 : int(it - devices.begin());
}

void TMainFrm::ShowConnected() {
  TJvHidDevice* dev = SelectedDevice();
  SetStatusText(0, LoadStr(1001) + FSession->Serial());
  SetStatusText(1, QString());
  RecordBtn->setEnabled(true);
  EnableConsole(true);
  SetStatusText(1, QString());
  if (!dev->HasReadWriteAccess() && !dev->AccessError().isEmpty())
    SetStatusText(1, dev->AccessError());
  stInBand->clear();  // its time in band starts anew
}

}  // namespace calorix
