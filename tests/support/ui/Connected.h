#pragma once
// A window with one simulated thermostat selected and its first answers in.
#include "app/MainForm.h"
#include "link/RequestQueue.h"
#include "tests/support/ui/WindowFixture.h"

#include <QLineEdit>

#include <memory>

namespace calorix::test {

struct TConnectedWindow {
  TWindowFixture Fx;
  std::shared_ptr<TSimThermostat> Thermostat;
  TMainFrm* W = nullptr;

  // A journal folder shared with other windows may be given.
  explicit TConnectedWindow(TSimThermostatOptions options = {}, const QString& journalFolder = {}) {
    Fx.SetJournalFolder(journalFolder);
    Thermostat = Fx.Plug(std::move(options));
    W = &Fx.Create();
    Idle();
  }
  // Waits until the queue has drained.
  bool Idle() {
    return TWindowFixture::WaitFor([&] {
      return W->SelectedDevice() && !W->stTemp->text().isEmpty() &&
             W->Requests().Requests().empty();
    });
  }
  // One poll period: the clock moves on and the poll tick runs; while
  // recording, the tick must add one sample.
  bool Poll(double seconds = 1.0) {
    Fx.Clock.AdvanceSeconds(seconds);
    const std::size_t before = W->Record().Count();
    W->DataTimer->Fire();
    if (!Idle())
      return false;
    return !W->Recording() || W->Record().Count() == before + 1;
  }
};

}  // namespace calorix::test
