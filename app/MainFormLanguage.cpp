// The main window's part of the interface language: the settings dialog's
// choice and the settings file. The language itself is loaded by the program
// entry before the window exists, so a new choice takes effect at the next start.
#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "base/IniFile.h"
#include "base/Language.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

namespace calorix {

void TMainFrm::LanguageFormCreate(const TIniFile& ini) {
  FLanguage = ReadLanguage(ini);
  FLanguageInFile = LanguageInFile(ini);
}

bool TMainFrm::SaveLanguageSettings(TIniFile& ini) {
  // Like the other optional sections: not written while it only holds the default.
  if (FLanguage == TLanguage::Russian && !FLanguageInFile)
    return true;
  return WriteLanguage(ini, FLanguage);
}

void TMainFrm::AddLanguageSettings(TSettingsFrm* form) {
  auto* box = new QGroupBox(tr("Язык"));
  box->setObjectName(QStringLiteral("LanguageGroup"));
  auto* row = new QHBoxLayout(box);
  auto* choice = new QComboBox(box);
  choice->setObjectName(QStringLiteral("cbLanguage"));
  // Each language under its own name, whatever the interface speaks now.
  choice->addItem(QStringLiteral("Русский"), int(TLanguage::Russian));
  choice->addItem(QStringLiteral("English"), int(TLanguage::English));
  choice->setAccessibleName(box->title());
  auto* note = new QLabel(tr("Язык сменится при следующем запуске программы."), box);
  note->setObjectName(QStringLiteral("LanguageNote"));
  note->setWordWrap(true);
  row->addWidget(choice);
  row->addWidget(note, 1);
  TSettingsSection section;
  section.Widget = box;
  section.Load = [this, choice] { choice->setCurrentIndex(choice->findData(int(FLanguage))); };
  section.Apply = [this, choice] { FLanguage = TLanguage(choice->currentData().toInt()); };
  form->AddSection(std::move(section));
}

}  // namespace calorix
