// The main window's file commands: the measurement file, printing and the clipboard.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "chart/Chart.h"
#include "files/ChartOutput.h"
#include "record/Journal.h"
#include "record/MeasurementFile.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QPrinter>
#include <QProgressBar>

#include <vector>

namespace calorix {
namespace {

TFileDialogSpec DataFileDialog(const QString& title) {
  return {title,
          QCoreApplication::translate("calorix", "Файлы приложения (*.csv);;Все файлы (*.*)"),
          QStringLiteral("csv")};
}

}  // namespace

bool TMainFrm::SaveActionExecute() {
  const auto path = FPrompts.SaveFileName(this, DataFileDialog(tr("Сохранение данных в файл")));
  if (!path)
    return false;
  const QString error = SaveRecordTo(*path);
  if (!error.isEmpty()) {
    ShowError(error);
    return false;
  }
  return true;
}

QString TMainFrm::SaveRecordTo(const QString& path) {
  return FSession->SaveRecordTo(path);
}

void TMainFrm::OpenActionExecute() {
  if (FSession->Modified() && !FPrompts.Confirm(this, LoadStr(1028)))
    return;
  const auto path = FPrompts.OpenFileName(this, DataFileDialog(tr("Открытие файла данных")));
  if (!path)
    return;

  // The whole file is read and parsed before anything is replaced, so a file
  // that cannot be read leaves the record as it was.
  auto* progressAction = ProgressBar->property("toolbarAction").value<QObject*>();
  auto showProgress = [&](bool on) {
    if (auto* a = qobject_cast<QAction*>(progressAction))
      a->setVisible(on);
  };
  ProgressBar->setRange(0, 1000);
  ProgressBar->setValue(0);
  showProgress(true);
  const TMeasurementFileResult file =
      ReadMeasurementFile(*path, FLocalFormat, FSession->DotFormat(), FSession->CommaFormat(),
                          [&](std::int64_t done, std::int64_t total) {
                            ProgressBar->setValue(total > 0 ? int(done * 1000 / total) : 0);
                            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                            return true;
                          });
  showProgress(false);
  if (!file.Ok) {
    ShowError(file.Error);
    return;
  }

  FSession->OpenRecord(file.Samples, *path);
}

void TMainFrm::ShowLoadedRecord() {
  const double newest = RecordLength();
  Chart->SetBottomRange({newest - FWindow.FrameLength(), newest});
  if (cbXAuto->isChecked())
    Chart->SetBottomAutomatic(true);
  ResetCatch();
  BuildCatchMenu();
  TrackNewest();
}

void TMainFrm::PrintActionExecute() {
  QPrinter printer;
  if (!FPrompts.PrintDialog(this, printer))
    return;
  const QString error = PrintChart(*Chart, printer);
  if (!error.isEmpty())
    ShowError(error);
}

void TMainFrm::CopyActionExecute() {
  const QString error = CopyChartToClipboard(*Chart, MarkedRangeClipboardText());
  if (!error.isEmpty())
    ShowError(error);
}

}  // namespace calorix
