// The main window's recording journal: the questions about a record left by a
// program that did not close normally (the session restores it).
#include "app/MainForm.h"
#include "app/Windows.h"

namespace calorix {

void TMainFrm::AskRestoreJournal() {
  struct TAsk final : ISessionQuestions {
    TMainFrm& Window;
    explicit TAsk(TMainFrm& window) : Window(window) {}
    bool Confirm(const QString& question) override {
      return Window.FPrompts.Confirm(&Window, question);
    }
    void Tell(const QString& text) override { Window.FPrompts.ShowError(&Window, text); }
    // A record naming its thermostat goes into that thermostat's window.
    bool OpensSessions() const override { return Window.FWindows != nullptr; }
    TThermostatSession* SessionFor(const QString& serial) override {
      TMainFrm* window = Window.FWindows ? Window.FWindows->Open(serial) : nullptr;
      return window ? window->Session() : nullptr;
    }
  } ask(*this);
  FSession->RestoreAbandoned(ask);
}

}  // namespace calorix
