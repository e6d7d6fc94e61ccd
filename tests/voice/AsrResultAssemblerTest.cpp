#include "PrintRecognitionResult.h"
#include "voice/mmXFYunResultAssembler.h"

#include <QList>

#include <gtest/gtest.h>
#include <ostream>

namespace {

using Type = RecognitionResultType;
using Results = QList<RecognitionResult>;

mmXFYunReply reply(const QString& text, mmXFYunReply::Progress progress, bool last, std::optional<qint64> sn,
    std::optional<std::pair<qint64, qint64>> rg = std::nullopt)
{
    mmXFYunReply r;
    r.text = text;
    r.progress = progress;
    r.last = last;
    r.sn = sn;
    r.replaces = rg;
    return r;
}

constexpr auto None = mmXFYunReply::Progress::None;
constexpr auto Apd = mmXFYunReply::Progress::Append;
constexpr auto Rpl = mmXFYunReply::Progress::Replace;
constexpr auto Odd = mmXFYunReply::Progress::Unknown;

struct Sequence {
    const char* name;
    QList<mmXFYunReply> replies;
    Results expected;
    bool sessionEnded;
};

class AsrResultSequenceTest : public ::testing::TestWithParam<Sequence> { };

TEST_P(AsrResultSequenceTest, DeliversTheSegmentsAndTheRunningText)
{
    const Sequence& s = GetParam();
    mmXFYunResultAssembler assembler;
    Results got;
    bool ended = false;
    for (const mmXFYunReply& r : s.replies) {
        EXPECT_FALSE(ended) << "a reply after the end of the session";
        ended = assembler.resultDictionary(r, [&](const QString& text, Type type) {
            got.append({ text, type });
        });
    }
    EXPECT_EQ(got, s.expected);
    EXPECT_EQ(ended, s.sessionEnded);
    if (ended) {
        EXPECT_TRUE(assembler.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, AsrResultSequenceTest,
    ::testing::Values(
        // Dynamic correction: an append, its correction, a last append.
        Sequence { "CorrectionWithRange",
            { reply("A", Apd, false, 1), reply("AB", Rpl, false, 2, std::pair(1, 1)),
                reply("C", Apd, true, 3) },
            { { "A", Type::NewSegment }, { "A", Type::RunningText }, { "AB", Type::Corrected },
                { "AB", Type::RunningText }, { "C", Type::NewSegment }, { "ABC", Type::RunningText },
                { "ABC", Type::SessionFinished }, { "ABC", Type::RunningText } },
            true },
        // Without a range a correction replaces the last segment.
        Sequence { "CorrectionWithoutRange",
            { reply("A", Apd, false, 1), reply("B", Apd, false, 2), reply("BC", Rpl, false, 3) },
            { { "A", Type::NewSegment }, { "A", Type::RunningText }, { "B", Type::NewSegment },
                { "AB", Type::RunningText }, { "BC", Type::Corrected }, { "ABC", Type::RunningText } },
            false },
        // Appends that no correction follows all stay in the text.
        Sequence { "AppendsAreKept",
            { reply("今天", Apd, false, 1), reply("天气", Apd, false, 2), reply("很好", Apd, true, 3) },
            { { "今天", Type::NewSegment }, { "今天", Type::RunningText }, { "天气", Type::NewSegment },
                { "今天天气", Type::RunningText }, { "很好", Type::NewSegment },
                { "今天天气很好", Type::RunningText }, { "今天天气很好", Type::SessionFinished },
                { "今天天气很好", Type::RunningText } },
            true },
        // A correction whose range covers two earlier segments replaces both.
        Sequence { "CorrectionAcrossSegments",
            { reply("X", Apd, false, 1), reply("A", Apd, false, 2), reply("B", Apd, false, 3),
                reply("AB!", Rpl, false, 4, std::pair(2, 3)) },
            { { "X", Type::NewSegment }, { "X", Type::RunningText }, { "A", Type::NewSegment },
                { "XA", Type::RunningText }, { "B", Type::NewSegment }, { "XAB", Type::RunningText },
                { "AB!", Type::Corrected }, { "XAB!", Type::RunningText } },
            false },
        // A correction that is the last reply still finishes the session.
        Sequence { "LastReplyIsACorrection",
            { reply("A", Apd, false, 1), reply("AB", Rpl, true, 2, std::pair(1, 1)) },
            { { "A", Type::NewSegment }, { "A", Type::RunningText }, { "AB", Type::Corrected },
                { "AB", Type::RunningText }, { "AB", Type::SessionFinished }, { "AB", Type::RunningText } },
            true },
        // An empty last reply finishes with the text accumulated so far.
        Sequence { "EmptyLastReply",
            { reply("A", Apd, false, 1), reply("AB", Rpl, false, 2), reply("", None, true, 3) },
            { { "A", Type::NewSegment }, { "A", Type::RunningText }, { "AB", Type::Corrected },
                { "AB", Type::RunningText }, { "AB", Type::SessionFinished }, { "AB", Type::RunningText } },
            true },
        // A session that recognised nothing ends without a result.
        Sequence { "NothingRecognised", { reply("", None, false, 1), reply("", Apd, true, 2) }, {}, true },
        // Without dynamic correction every reply is a new segment; the last
        // one delivers the whole text, not only its own words.
        Sequence { "PlainSession",
            { reply("Hello", None, false, 1), reply(" big", None, false, 2), reply(" world", None, true, 3) },
            { { "Hello", Type::NewSegment }, { "Hello", Type::RunningText }, { " big", Type::NewSegment },
                { "Hello big", Type::RunningText }, { " world", Type::NewSegment },
                { "Hello big world", Type::RunningText }, { "Hello big world", Type::SessionFinished },
                { "Hello big world", Type::RunningText } },
            true },
        // Missing or repeated sequence numbers still append in order.
        Sequence { "SequenceNumbersMissingOrRepeated",
            { reply("a", None, false, std::nullopt), reply("b", None, false, 1), reply("c", None, false, 1) },
            { { "a", Type::NewSegment }, { "a", Type::RunningText }, { "b", Type::NewSegment },
                { "ab", Type::RunningText }, { "c", Type::NewSegment }, { "abc", Type::RunningText } },
            false },
        // An unknown progress value is ignored, but its last flag is not.
        Sequence { "UnknownProgress", { reply("A", Apd, false, 1), reply("Z", Odd, true, 2) },
            { { "A", Type::NewSegment }, { "A", Type::RunningText }, { "A", Type::SessionFinished },
                { "A", Type::RunningText } },
            true }),
    [](const ::testing::TestParamInfo<Sequence>& info) { return std::string(info.param.name); });

TEST(AsrResultAssemblerTest, EachSessionStartsEmpty)
{
    mmXFYunResultAssembler assembler;
    Results got;
    const auto deliver = [&](const QString& text, Type type) { got.append({ text, type }); };
    assembler.resultDictionary(reply("first", Apd, true, 1), deliver);
    got.clear();
    assembler.resultDictionary(reply("second", Apd, false, 1), deliver);
    EXPECT_EQ(got, (Results { { "second", Type::NewSegment }, { "second", Type::RunningText } }));
    got.clear();
    assembler.finishSession(deliver);
    EXPECT_EQ(got, (Results { { "second", Type::SessionFinished }, { "second", Type::RunningText } }));
    EXPECT_TRUE(assembler.isEmpty());
}

struct ParseCase {
    const char* name;
    const char* json;
    qint64 code;
    const char* text;
    mmXFYunReply::Progress progress;
    bool last;
    std::optional<qint64> sn;
    std::optional<std::pair<qint64, qint64>> rg;
};

class AsrReplyParseTest : public ::testing::TestWithParam<ParseCase> { };

TEST_P(AsrReplyParseTest, ReadsOnlyWhatHasTheRightKind)
{
    const ParseCase& c = GetParam();
    const std::optional<mmXFYunReply> r = mmXFYunReply::fromText(QString::fromUtf8(c.json));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, c.code);
    EXPECT_EQ(r->text, QString::fromUtf8(c.text));
    EXPECT_EQ(r->progress, c.progress);
    EXPECT_EQ(r->last, c.last);
    EXPECT_EQ(r->sn, c.sn);
    EXPECT_EQ(r->replaces, c.rg);
}

INSTANTIATE_TEST_SUITE_P(Replies, AsrReplyParseTest,
    ::testing::Values(ParseCase { "Full",
                          R"({"code":0,"data":{"result":{"sn":3,"ls":true,"pgs":"rpl","rg":[1,2],)"
                          R"("ws":[{"cw":[{"w":"你"},{"w":"泥"}]},{"cw":[]},{"cw":[{"w":"好"}]}]}}})",
                          0, "你好", Rpl, true, 3, std::pair(1, 2) },
        ParseCase { "NoCodeMeansSuccess", R"({"data":{"result":{"ws":[{"cw":[{"w":"a"}]}]}}})", 0, "a", None,
            false, std::nullopt, std::nullopt },
        ParseCase { "ErrorCode", R"({"code":10165,"message":"invalid handle"})", 10165, "", None, false,
            std::nullopt, std::nullopt },
        ParseCase { "CodeOfTheWrongKindIsAnError", R"({"code":"0"})", -1, "", None, false, std::nullopt,
            std::nullopt },
        ParseCase {
            "FractionalCodeIsAnError", R"({"code":0.5})", -1, "", None, false, std::nullopt, std::nullopt },
        ParseCase { "HugeNumbers", R"({"code":0,"data":{"result":{"sn":1e300,"rg":[1,1e30]}}})", 0, "", None,
            false, std::nullopt, std::nullopt },
        ParseCase { "WrongKinds",
            R"({"data":{"result":{"ws":[7,{"cw":"x"},{"cw":[{"w":5}]},{"cw":[{"w":"ok"}]}],"ls":"true",)"
            R"("pgs":"apd","rg":[3,1],"sn":"2"}}})",
            0, "ok", Apd, false, std::nullopt, std::nullopt },
        ParseCase { "OtherProgress", R"({"data":{"result":{"pgs":7}}})", 0, "", Odd, false, std::nullopt,
            std::nullopt },
        ParseCase { "DataNotAnObject", R"({"code":0,"data":[1,2]})", 0, "", None, false, std::nullopt,
            std::nullopt }),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(AsrReplyParseTest, TextThatIsNotAnObjectIsNoReply)
{
    for (const char* text : { "", "[]", "nonsense", "{\"code\":0", "42" })
        EXPECT_FALSE(mmXFYunReply::fromText(QString::fromUtf8(text))) << text;
}

} // namespace
