// Status lines on a standard error nobody may be reading: a repeated line costs one line a second, and a
// full pipe costs a count, never a wait.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <string>

#include "StatusLines.h"

namespace {

class StatusLinesOnAPipe : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0); }
    void TearDown() override {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    std::string Read() {
        char chunk[65536];
        for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) got.append(chunk, static_cast<std::size_t>(n));
        return got;
    }
    int fds[2]{-1, -1};
    std::string got;
};

TEST_F(StatusLinesOnAPipe, ARepeatedLineIsCountedAndSaidOnceASecond) {
    StatusLines lines(fds[1], "prog: ");
    for (int i = 0; i < 1000; ++i) lines.Post("  Pause");
    lines.Post("adapter lost");
    EXPECT_EQ(Read(), "prog:   Pause\nprog:   Pause (repeated 999 times)\nprog: adapter lost\n");
    for (int i = 0; i < 3; ++i) lines.Post("adapter lost");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Read().ends_with("prog: adapter lost (repeated 3 times)\n"); }, 5000))
        << got;
}

TEST_F(StatusLinesOnAPipe, AFullPipeIsNeverWaitedFor) {
    StatusLines lines(fds[1]);
    const std::string block(4096, 'x');
    while (::write(fds[1], block.data(), block.size()) > 0) {
    }
    for (int i = 0; i < 100; ++i) lines.Post("line " + std::to_string(i));  // returns: nothing waits
    got.clear();
    Read();
    got.clear();
    lines.Post("after");
    EXPECT_EQ(Read(), "(100 status lines not written: standard error was full)\nafter\n");
}

}  // namespace
