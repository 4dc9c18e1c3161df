#include "base/Language.h"

#include "base/IniFile.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace calorix {
namespace {

const QString kSection = QStringLiteral("UI");
const QString kKey = QStringLiteral("Language");

}  // namespace

TLanguage ReadLanguage(const TIniFile& ini) {
  const QString code = ini.ReadString(kSection, kKey, QString());
  return code == QLatin1String("en") ? TLanguage::English : TLanguage::Russian;
}

bool LanguageInFile(const TIniFile& ini) {
  return !ini.ReadString(kSection, kKey, QString()).isEmpty();
}

bool WriteLanguage(TIniFile& ini, TLanguage language) {
  return ini.WriteString(kSection, kKey, LanguageCode(language));
}

QString LanguageCode(TLanguage language) {
  return language == TLanguage::English ? QStringLiteral("en") : QStringLiteral("ru");
}

TTranslations::TTranslations(TLanguage language) {
  // Qt's dialogs (file, print, message box buttons) speak the same language;
  // Debian ships these with qt6-translations-l10n.
  if (FQt.load(QStringLiteral("qtbase_") + LanguageCode(language),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&FQt);
  if (language == TLanguage::English) {
    FLoaded = FProgram.load(QStringLiteral(":/i18n/calorix_en.qm"));
    if (FLoaded)
      QCoreApplication::installTranslator(&FProgram);
  }
}

TTranslations::~TTranslations() {
  QCoreApplication::removeTranslator(&FProgram);
  QCoreApplication::removeTranslator(&FQt);
}

}  // namespace calorix
