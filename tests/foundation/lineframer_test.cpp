#include "foundation/lineframer.h"

#include <QList>

#include <gtest/gtest.h>

using foundation::LineFramer;

namespace {

// Feeds the chunks (and the end of input when finish is set) and answers what
// came out, an overlong line written as "!".
QList<QByteArray> frame(qsizetype max, const QList<QByteArray> &chunks, bool finish = false)
{
    LineFramer framer(max);
    QList<QByteArray> out;
    const auto onLine = [&](QByteArrayView line) { out.append(line.toByteArray()); };
    const auto onOverlong = [&] { out.append("!"); };
    for (const QByteArray &chunk : chunks)
        framer.feed(chunk, onLine, onOverlong);
    if (finish)
        framer.finish(onLine, onOverlong);
    return out;
}

} // namespace

TEST(LineFramer, CutsAtLineFeedsWhateverTheChunks)
{
    struct Case {
        const char *name;
        QList<QByteArray> chunks;
        bool finish;
        QList<QByteArray> lines;
    };
    const QList<Case> cases{
        {"two in one chunk", {"a\nbb\n"}, false, {"a", "bb"}},
        {"split across chunks", {"a", "b", "c\nd", "\n"}, false, {"abc", "d"}},
        {"empty lines kept", {"\n\nx\n"}, false, {"", "", "x"}},
        {"one CR before LF dropped", {"a\r\n", "b\r", "\n", "c\r\r\n"}, false, {"a", "b", "c\r"}},
        {"unfinished line waits", {"a\nb"}, false, {"a"}},
        {"unfinished line at the end keeps its CR", {"a\nb\r"}, true, {"a", "b\r"}},
        {"exactly the limit", {"1234\n", "12", "34\r\n"}, false, {"1234", "1234"}},
        {"over the limit in one chunk", {"12345\nok\n"}, false, {"!", "ok"}},
        {"over the limit across chunks, reported once", {"123", "45", "678", "9\nok\n"}, false, {"!", "ok"}},
        {"limit plus CR is not over", {"1234\r", "\n"}, false, {"1234"}},
        {"overlong at the end of input", {"123456"}, true, {"!"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(frame(4, c.chunks, c.finish), c.lines) << c.name;
}

TEST(LineFramer, NeverHoldsMoreThanTheLimitAndASlackByte)
{
    LineFramer framer(8);
    int overlong = 0;
    const auto ignore = [](QByteArrayView) {};
    for (int i = 0; i < 100; ++i) {
        framer.feed("xxx", ignore, [&] { ++overlong; });
        EXPECT_LE(framer.bufferedBytes(), 9);
    }
    framer.feed("\n", ignore, [&] { ++overlong; });
    EXPECT_EQ(overlong, 1);
    EXPECT_EQ(framer.bufferedBytes(), 0);
}
