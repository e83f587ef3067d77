#include "app/MyLogger.h"
#include "shared/errors.h"

#include "testenv.h"

#include <QDateTime>
#include <QFile>

namespace {

class LoggerTest : public HomeTest {
protected:
    QString Path() const { return Home->Path() + "/applog.log"; }
    void WriteLines(int count) {
        QByteArray text;
        for (int i = 1; i <= count; ++i)
            text += "line " + QByteArray::number(i) + "\r\n";
        ASSERT_TRUE(WriteTextFile(Path(), text));
    }
    QList<QByteArray> Lines() const {
        QList<QByteArray> lines = ReadWholeFile(Path()).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
};

TEST_F(LoggerTest, CreateMakesAnEmptyFileOnlyWhenMissing) {
    TMyLogger log(Path());
    EXPECT_TRUE(QFile::exists(Path()));
    EXPECT_TRUE(ReadWholeFile(Path()).isEmpty());
    log.AppendLog("kept");
    TMyLogger again(Path());
    EXPECT_EQ(Lines().size(), 1);
}

TEST_F(LoggerTest, EntriesCarryTimestampAndEndInCrLf) {
    TMyLogger log(Path());
    log.AppendLog("Application start - V0.9");
    const QByteArray text = ReadWholeFile(Path());
    EXPECT_TRUE(text.endsWith(": Application start - V0.9\r\n")) << text.constData();
}

TEST_F(LoggerTest, TimestampDropsTheTimeAtMidnightOnly) {
    const QDateTime midnight(QDate(2025, 12, 8), QTime(0, 0));
    const QDateTime evening(QDate(2025, 12, 8), QTime(21, 31, 5));
    EXPECT_FALSE(TMyLogger::FormatTimestamp(midnight).contains(':'));
    EXPECT_TRUE(TMyLogger::FormatTimestamp(evening).contains("31"));
}

struct TruncateCase {
    int before;
    int expectedRemoved;
    int expectedAfter;
};

class TruncateTest : public LoggerTest, public ::testing::WithParamInterface<TruncateCase> {};

TEST_P(TruncateTest, KeepsTheNewestLines) {
    const TruncateCase c = GetParam();
    WriteLines(c.before);
    TMyLogger log(Path());
    EXPECT_EQ(log.Truncate(10000), c.expectedRemoved);
    const QList<QByteArray> lines = Lines();
    ASSERT_EQ(lines.size(), c.expectedAfter);
    EXPECT_EQ(lines.last(), "line " + QByteArray::number(c.before) + "\r");
    if (c.expectedRemoved > 0) {
        EXPECT_EQ(lines.first(), "line " + QByteArray::number(c.expectedRemoved + 1) + "\r");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, TruncateTest,
                         ::testing::Values(TruncateCase{10000, 0, 10000},
                                           TruncateCase{10001, 1, 10000},
                                           TruncateCase{10500, 500, 10000}));

TEST_F(LoggerTest, TruncateOfAMissingFileIsZero) {
    TMyLogger log(Path());
    QFile::remove(Path());
    EXPECT_EQ(log.Truncate(10), 0);
}

TEST_F(LoggerTest, ALogThatCannotBeCreatedRaises) {
    EXPECT_THROW(TMyLogger(Home->Path() + "/missing/dir/applog.log"), VyrError);
}

} // namespace
