#pragma once
// Number formats and the one number reader. Numbers from the thermostat and
// typed setpoints are read with a '.' format; everything shown to the user is
// formatted with the user's locale.
#include <QLocale>
#include <QString>

#include <string_view>

namespace calorix {

// The locale's formatting settings the program uses.
struct TFormatSettings {
  QChar DecimalSeparator = '.';
  QChar ThousandSeparator = ',';
  QChar TimeSeparator = ':';
  QString TimeAMString = QStringLiteral("AM");
  QString TimePMString = QStringLiteral("PM");

  static TFormatSettings FromLocale(const QLocale& locale);
  TFormatSettings WithDecimal(QChar separator) const {
    TFormatSettings f = *this;
    f.DecimalSeparator = separator;
    return f;
  }
};

// Reads a number and never fails: text containing "inf" in any letter case is
// an infinity (minus infinity when the text starts with '-'); otherwise optional
// blanks, an optional sign, digits with at most one decimal separator (a lone
// separator reads as 0), an optional exponent, optional blanks and nothing else.
// Anything else is NaN. Thousands separators are not accepted.
double ParseFloatValue(std::string_view text, char decimalSeparator);
double ParseFloatValue(const QString& text, const TFormatSettings& format);

// Fixed notation with exactly two decimals, rounded to at most 8 significant
// digits first; more than 8 integer digits switch to exponent notation.
// Infinities and NaN read "INF", "-INF" and "NAN".
QString FormatFixed2(double value, const TFormatSettings& format);

// General notation with at most 8 significant digits and no trailing zeros;
// exponent notation below 0.00001 or with more than 8 integer digits.
QString FormatGeneral8(double value, const TFormatSettings& format);

// An elapsed time in days as hours:minutes:seconds ("h:nn:ss"): hours without
// a leading zero and not folded at 24, whole seconds (milliseconds cut off),
// the locale's time separator, never an AM/PM marker.
QString FormatElapsed(double days, const TFormatSettings& format);

}  // namespace calorix
