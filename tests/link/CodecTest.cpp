#include "link/Codec.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace calorix {
namespace {

TBytes Bytes(std::string_view text) {
  return TBytes(text.begin(), text.end());
}

// ---- Output framing ------------------------------------------------------

// Each request fits one report: plain, report ID 0 and the line from byte 1;
// through the adapter, the line's length in bytes 1-2 and the line from byte 5.
struct TFixedRequestCase {
  TRequestKind Kind;
  std::string Text;  // what the code makes of the request
  std::string Line;  // the line it must be
  std::uint8_t Length;
};

class FixedRequestFraming : public ::testing::TestWithParam<TFixedRequestCase> {};

TEST_P(FixedRequestFraming, FitsOneReportInBothFramings) {
  const auto& c = GetParam();
  ASSERT_EQ(c.Text, c.Line);
  for (const bool adapter : {false, true}) {
    SCOPED_TRACE(adapter ? "adapter" : "plain");
    const std::string head = adapter ? std::string{'\0', char(c.Length), '\0', '\0', '\0'} + c.Line
                                     : std::string(1, '\0') + c.Line;
    const auto reports = FrameRequest(c.Text, 65, adapter);
    ASSERT_EQ(reports.size(), 1u);
    TBytes expected(head.begin(), head.end());
    expected.resize(65, 0);
    EXPECT_EQ(reports[0], expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FixedRequestFraming,
    ::testing::Values(TFixedRequestCase{rkTemperature, std::string(kTemperatureRequest),
                                        ":00000000 dat.t rd\r", 19},
                      TFixedRequestCase{rkSetpointRead, std::string(kSetpointReadRequest),
                                        ":00000000 set.val rd\r", 21},
                      TFixedRequestCase{rkSetpointWrite, SetpointWriteRequest("25.5"),
                                        ":00000000 set.val wr 25.5\r", 26},
                      TFixedRequestCase{rkReadyBand, std::string(kReadyBandRequest),
                                        ":00000000 rdy rd\r", 17},
                      TFixedRequestCase{rkAlarmStatus, std::string(kAlarmStatusRequest),
                                        ":00000000 alm.status rd\r", 24}));

TEST(OutputFraming, TemperatureReadExactBytes) {
  const TBytes line = {0x3A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x20,
                       0x64, 0x61, 0x74, 0x2E, 0x74, 0x20, 0x72, 0x64, 0x0D};
  TBytes plain{0x00};
  plain.insert(plain.end(), line.begin(), line.end());
  plain.resize(plain.size() + 45, 0);
  EXPECT_EQ(FrameRequest(kTemperatureRequest, 65, false), std::vector<TBytes>{plain});

  TBytes adapter{0x00, 0x13, 0x00, 0x00, 0x00};
  adapter.insert(adapter.end(), line.begin(), line.end());
  adapter.resize(adapter.size() + 41, 0);
  EXPECT_EQ(FrameRequest(kTemperatureRequest, 65, true), std::vector<TBytes>{adapter});
}

TEST(OutputFraming, LongLineSplitsIntoWholeReportsWithCleanTails) {
  std::string text;
  for (int i = 0; i < 130; ++i)
    text.push_back(static_cast<char>('A' + i % 26));
  struct TCase {
    bool Adapter;
    std::vector<std::size_t> Chunks;
  };
  for (const TCase& c : {TCase{true, {60, 60, 10}}, TCase{false, {64, 64, 2}}}) {
    SCOPED_TRACE(c.Adapter ? "adapter" : "plain");
    const auto reports = FrameRequest(text, 65, c.Adapter);
    ASSERT_EQ(reports.size(), c.Chunks.size());
    const std::size_t offset = c.Adapter ? 5 : 1;
    std::size_t sent = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
      const TBytes& r = reports[i];
      ASSERT_EQ(r.size(), 65u);
      EXPECT_EQ(r[0], 0);
      if (c.Adapter) {
        EXPECT_EQ(r[1] | (r[2] << 8), static_cast<int>(c.Chunks[i]));
        EXPECT_EQ(r[3], 0);
        EXPECT_EQ(r[4], 0);
      }
      const std::size_t n = c.Chunks[i];
      EXPECT_EQ(std::string(r.begin() + offset, r.begin() + offset + n), text.substr(sent, n));
      // No stale bytes of the previous chunk behind a short last chunk.
      for (std::size_t k = offset + n; k < r.size(); ++k)
        ASSERT_EQ(r[k], 0) << "byte " << k;
      sent += n;
    }
    EXPECT_EQ(sent, text.size());
  }
}

TEST(OutputFraming, ReportsTooShortForPayloadCarryNothing) {
  struct TCase {
    std::size_t Length;
    bool Adapter;
    bool Can;
  };
  for (const TCase& c : {TCase{0, false, false}, TCase{1, false, false}, TCase{2, false, true},
                         TCase{0, true, false}, TCase{5, true, false}, TCase{6, true, true}}) {
    SCOPED_TRACE(testing::Message() << "L=" << c.Length << " adapter=" << c.Adapter);
    EXPECT_EQ(CanCarryPayload(c.Length, c.Adapter), c.Can);
    const auto reports = FrameRequest(kTemperatureRequest, c.Length, c.Adapter);
    EXPECT_EQ(reports.size(), c.Can ? kTemperatureRequest.size() : 0u);
  }
  EXPECT_TRUE(FrameRequest("", 65, false).empty());
  EXPECT_TRUE(FrameRequest("", 65, true).empty());
}

TEST(OutputFraming, OneBytePayloadPerReport) {
  const auto reports = FrameRequest("ab", 6, true);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], (TBytes{0, 1, 0, 0, 0, 'a'}));
  EXPECT_EQ(reports[1], (TBytes{0, 1, 0, 0, 0, 'b'}));
}

TEST(OutputFraming, AdapterSetupReport) {
  TBytes expected(65, 0);
  expected[3] = 0x62;
  expected[4] = 0x77;
  expected[5] = 0x80;
  expected[6] = 0x25;
  EXPECT_EQ(AdapterSetupReport(65), expected);
  EXPECT_EQ(AdapterSetupReport(7), (TBytes{0, 0, 0, 0x62, 0x77, 0x80, 0x25}));
  EXPECT_TRUE(AdapterSetupReport(6).empty());
  EXPECT_TRUE(AdapterSetupReport(0).empty());
}

TEST(OutputFraming, SetpointWriteKeepsValueText) {
  EXPECT_EQ(SetpointWriteRequest("25.5"), ":00000000 set.val wr 25.5\r");
  EXPECT_EQ(SetpointWriteRequest(""), ":00000000 set.val wr \r");
}

// ---- Answer assembly ----------------------------------------------------

struct TFeedResult {
  std::vector<std::string> Lines;
  std::vector<bool> Overflowed;
  std::size_t Count = 0;
};

TFeedResult Feed(TAnswerAssembler& a, const TBytes& data, bool adapter,
                 std::size_t stopAfter = 99) {
  TFeedResult r;
  r.Count = a.Feed(data.data(), data.size(), adapter, [&](const std::string& line, bool over) {
    r.Lines.push_back(line);
    r.Overflowed.push_back(over);
    return r.Lines.size() < stopAfter;
  });
  return r;
}

TBytes PlainReport(std::string_view text, std::size_t size = 64) {
  TBytes data = Bytes(text);
  if (data.size() < size)
    data.resize(size, 0);
  return data;
}

TBytes AdapterReport(std::string_view payload, int count = -1, std::size_t size = 64) {
  TBytes data(4, 0);
  data[0] = static_cast<std::uint8_t>(count < 0 ? payload.size() : count);
  data.insert(data.end(), payload.begin(), payload.end());
  if (data.size() < size)
    data.resize(size, 0);
  return data;
}

TEST(AnswerAssembler, PlainLineWithCarriageReturnAndPadding) {
  TAnswerAssembler a;
  const auto r = Feed(a, PlainReport("00000000 0 25.31\r"), false);
  EXPECT_EQ(r.Lines, std::vector<std::string>{"00000000 0 25.31"});
  EXPECT_EQ(r.Count, 1u);
  EXPECT_TRUE(a.Pending().empty());
}

TEST(AnswerAssembler, PlainFullReportWithoutLineEndWaitsForTheRest) {
  TAnswerAssembler a;
  const std::string first(64, 'x');
  auto r = Feed(a, Bytes(first), false);
  EXPECT_TRUE(r.Lines.empty());
  EXPECT_EQ(a.Pending(), first);
  r = Feed(a, PlainReport("yz\r"), false);
  EXPECT_EQ(r.Lines, std::vector<std::string>{first + "yz"});
}

TEST(AnswerAssembler, PlainStopsAtFirstLineEndAdapterGoesOn) {
  TAnswerAssembler plain;
  auto r = Feed(plain, PlainReport("a\rb\rc"), false);
  EXPECT_EQ(r.Lines, std::vector<std::string>{"a"});
  EXPECT_TRUE(plain.Pending().empty()) << "rest of a plain report is discarded";

  TAnswerAssembler adapter;
  r = Feed(adapter, AdapterReport("a\rb\r\nc"), true);
  EXPECT_EQ(r.Lines, (std::vector<std::string>{"a", "b", ""}));
  EXPECT_EQ(adapter.Pending(), "c");
}

TEST(AnswerAssembler, AdapterCountBoundsTheScan) {
  struct TCase {
    int Count;
    std::size_t ReportSize;
    std::size_t Scanned;
  };
  const std::string payload(70, 'p');
  for (const TCase& c : {TCase{0, 64, 0}, TCase{200, 64, 60}, TCase{200, 80, 60}, TCase{10, 64, 10},
                         TCase{60, 20, 16}, TCase{5, 4, 0}, TCase{5, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << "count " << c.Count << " size " << c.ReportSize);
    TAnswerAssembler a;
    TBytes data = AdapterReport(payload, c.Count, 0);
    data.resize(c.ReportSize);  // exactly the report, so reading past it shows under ASan
    const auto r =
        a.Feed(data.data(), data.size(), true, [](const std::string&, bool) { return true; });
    EXPECT_EQ(r, 0u);
    EXPECT_EQ(a.Pending().size(), c.Scanned);
  }
}

TEST(AnswerAssembler, LineEndBytes) {
  struct TCase {
    std::uint8_t Byte;
    bool Ends;
  };
  for (const TCase& c : {TCase{0x00, true}, TCase{0x0A, true}, TCase{0x0D, true},
                         TCase{0x0E, false}, TCase{0x20, false}, TCase{0x7F, false},
                         TCase{0x80, true}, TCase{0xB0, true}, TCase{0xFF, true}}) {
    SCOPED_TRACE(testing::Message() << "byte " << int(c.Byte));
    EXPECT_EQ(IsLineEnd(c.Byte), c.Ends);
    TAnswerAssembler a;
    TBytes data = Bytes("25");
    data.push_back(c.Byte);
    data.push_back('7');
    const auto r = Feed(a, data, false);
    if (c.Ends) {
      EXPECT_EQ(r.Lines, std::vector<std::string>{"25"});
    } else {
      EXPECT_TRUE(r.Lines.empty());
      EXPECT_EQ(a.Pending().size(), 4u);
    }
  }
}

TEST(AnswerAssembler, CallbackCanStopTheScan) {
  TAnswerAssembler a;
  const auto r = Feed(a, AdapterReport("a\rb\rc"), true, 1);
  EXPECT_EQ(r.Lines, std::vector<std::string>{"a"});
  EXPECT_EQ(r.Count, 1u);
  EXPECT_TRUE(a.Pending().empty()) << "the rest of the report is discarded";
}

TEST(AnswerAssembler, CallbackMayClearTheAssembler) {
  TAnswerAssembler a;
  std::vector<std::string> lines;
  const TBytes data = AdapterReport("ab\rcd\r");
  a.Feed(data.data(), data.size(), true, [&](const std::string& line, bool) {
    a.Clear();
    lines.push_back(line);
    return true;
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd"}));
}

TEST(AnswerAssembler, OverlongLineIsDroppedAndReportedOnceAtItsEnd) {
  TAnswerAssembler a;
  const std::string chunk(64, 'q');
  for (int i = 0; i < 64; ++i)
    ASSERT_TRUE(Feed(a, Bytes(chunk), false).Lines.empty());
  EXPECT_EQ(a.Pending().size(), TAnswerAssembler::kMaxAnswer);
  EXPECT_FALSE(a.Overflowed());
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(Feed(a, Bytes(chunk), false).Lines.empty());
  EXPECT_TRUE(a.Overflowed());
  EXPECT_TRUE(a.Pending().empty());

  auto r = Feed(a, PlainReport("tail\r"), false);
  ASSERT_EQ(r.Lines.size(), 1u);
  EXPECT_TRUE(r.Overflowed[0]);
  EXPECT_TRUE(r.Lines[0].empty());

  r = Feed(a, PlainReport("00000000 0 1\r"), false);
  EXPECT_EQ(r.Lines, std::vector<std::string>{"00000000 0 1"});
  EXPECT_FALSE(r.Overflowed[0]);
}

TEST(AnswerAssembler, LineOfExactlyTheLimitIsKept) {
  TAnswerAssembler a;
  std::string line(TAnswerAssembler::kMaxAnswer, 'z');
  TBytes data = Bytes(line);
  data.push_back('\r');
  const auto r = Feed(a, data, false);
  ASSERT_EQ(r.Lines.size(), 1u);
  EXPECT_EQ(r.Lines[0], line);
  EXPECT_FALSE(r.Overflowed[0]);
}

TEST(AnswerAssembler, ClearDropsPartialLineAndOverflow) {
  TAnswerAssembler a;
  Feed(a, Bytes(std::string(5000, 'k')), false);
  EXPECT_TRUE(a.Overflowed());
  a.Clear();
  EXPECT_FALSE(a.Overflowed());
  Feed(a, Bytes("abc"), false);
  a.Clear();
  EXPECT_EQ(Feed(a, PlainReport("x\r"), false).Lines, std::vector<std::string>{"x"});
}

// ---- Answer lines -------------------------------------------------------

struct TSplitCase {
  std::string Line;
  std::vector<std::string> Fields;
};

class SplitFieldsTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitFieldsTest, Splits) {
  EXPECT_EQ(SplitFields(GetParam().Line), GetParam().Fields);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, SplitFieldsTest,
    ::testing::Values(TSplitCase{"00000000 0 25.31", {"00000000", "0", "25.31"}},
                      TSplitCase{"  00000000    0 \t 25.31   ", {"00000000", "0", "25.31"}},
                      TSplitCase{"", {}}, TSplitCase{"    ", {}}, TSplitCase{"\x01\x1f\x20", {}},
                      TSplitCase{"a\x01"
                                 "b",
                                 {"a", "b"}},
                      TSplitCase{"00000000", {"00000000"}},
                      TSplitCase{"A 0 \"a b\" c", {"A", "0", "a b", "c"}},
                      TSplitCase{"A 0 \"say \"\"hi\"\"\"", {"A", "0", "say \"hi\""}},
                      TSplitCase{"A 0 \"open to end  ", {"A", "0", "open to end  "}},
                      TSplitCase{"A 0 \"\"", {"A", "0", ""}}, TSplitCase{"\"ab\"cd", {"ab", "cd"}},
                      TSplitCase{"ab\"cd ef", {"ab\"cd", "ef"}},
                      TSplitCase{"A 0 1 extra fields", {"A", "0", "1", "extra", "fields"}}));

TEST(ReadStatus, WholeFieldDecimalOrMinusOne) {
  struct TCase {
    const char* Field;
    int Status;
  };
  for (const TCase& c :
       {TCase{"0", 0}, TCase{"3", 3}, TCase{"6", 6}, TCase{"+6", 6}, TCase{"-2", -2},
        TCase{"007", 7}, TCase{"", -1}, TCase{"-", -1}, TCase{"+", -1}, TCase{"3a", -1},
        TCase{"1.0", -1}, TCase{" 3", -1}, TCase{"ok", -1}, TCase{"0x1", -1},
        TCase{"2147483647", INT_MAX}, TCase{"-2147483648", INT_MIN}, TCase{"2147483648", -1},
        TCase{"-2147483649", -1}, TCase{"99999999999999999999999", -1}}) {
    EXPECT_EQ(ReadStatus(c.Field), c.Status) << '"' << c.Field << '"';
  }
}

TEST(ErrorTexts, StatusCodesAndUnexpectedAnswer) {
  const QStringList texts = DefaultStatusTexts();
  ASSERT_EQ(texts.size(), 7);
  EXPECT_TRUE(texts[0].isEmpty());
  EXPECT_EQ(StatusErrorText(3, texts),
            QString::fromUtf8("Ошибочный запрос. Код статуса 3: неизвестный адресат"));
  EXPECT_EQ(StatusErrorText(1, texts),
            QString::fromUtf8("Ошибочный запрос. Код статуса 1: неверный формат запроса"));
  EXPECT_EQ(StatusErrorText(5, texts),
            QString::fromUtf8("Ошибочный запрос. Код статуса 5: значение вне диапазона"));
  for (const int code : {-1, 7, 42, -300}) {
    EXPECT_EQ(StatusErrorText(code, texts),
              QString::fromUtf8("Ошибочный запрос. Код статуса ") + QString::number(code));
  }
  // The texts come from the caller; a short list shows the code alone.
  EXPECT_EQ(StatusErrorText(2, QStringList{"", ": x", ": y"}),
            QString::fromUtf8("Ошибочный запрос. Код статуса 2: y"));
  EXPECT_EQ(StatusErrorText(4, QStringList{""}),
            QString::fromUtf8("Ошибочный запрос. Код статуса 4"));
  EXPECT_EQ(UnexpectedAnswerText(), QString::fromUtf8("Неожиданный ответ термостата"));
}

}  // namespace
}  // namespace calorix
