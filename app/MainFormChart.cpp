// The main window's measurement record and chart.
#include "app/MainForm.h"

#include <QLineEdit>

namespace calorix {

void TMainFrm::AddSample(double time, double value) {
  (void)time;
  stTemp->setText(FormatFixed2(value, FLocalFormat));
}

}  // namespace calorix
