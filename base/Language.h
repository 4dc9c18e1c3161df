#pragma once
// The interface language: Russian (the texts in the source) or English (the
// translation embedded in the program). It is chosen in the settings dialog,
// kept in the settings file and takes effect at the next start; number
// formats follow the user's locale whatever the language.
#include <QString>
#include <QTranslator>

namespace calorix {

class TIniFile;

enum class TLanguage { Russian, English };

// Section UI, key Language: "ru" or "en"; anything else reads as Russian.
TLanguage ReadLanguage(const TIniFile& ini);
// Whether the file names a language at all (then it is written back even as "ru").
bool LanguageInFile(const TIniFile& ini);
bool WriteLanguage(TIniFile& ini, TLanguage language);  // false: the write failed
QString LanguageCode(TLanguage language);

// The program's translation and Qt's own (the standard dialogs) for one
// language, installed into the application while the object lives.
class TTranslations {
 public:
  explicit TTranslations(TLanguage language);
  ~TTranslations();
  TTranslations(const TTranslations&) = delete;
  TTranslations& operator=(const TTranslations&) = delete;

  // False when the program's translation could not be loaded (the Russian
  // texts are shown then); Qt's own may be missing without harm.
  bool Loaded() const { return FLoaded; }

 private:
  QTranslator FProgram;
  QTranslator FQt;
  bool FLoaded = true;
};

}  // namespace calorix
