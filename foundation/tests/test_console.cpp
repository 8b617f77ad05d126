// Console stream: 80-character loads, flushes, several writers. Standard output
// is pointed at a packet-mode pipe, so every write arrives as its own packet.
#include "qm/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

class captured_stdout_t {
public:
    captured_stdout_t()
    {
        std::fflush(stdout);
        int fds[2];
        if (pipe2(fds, O_DIRECT) != 0)
            std::abort();
        read_end = fds[0];
        saved = dup(1);
        dup2(fds[1], 1);
        close(fds[1]);
        reader = std::thread([this] {
            char buffer[4096]; // a packet is never larger than PIPE_BUF
            for (;;) {
                ssize_t n = read(read_end, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                packets.emplace_back(buffer, static_cast<size_t>(n));
            }
        });
    }
    // Restores standard output and returns every write seen, in order.
    std::vector<std::string> finish()
    {
        if (saved >= 0) {
            dup2(saved, 1);
            close(saved);
            saved = -1;
            reader.join();
            close(read_end);
        }
        return packets;
    }
    ~captured_stdout_t() { finish(); }

private:
    int read_end = -1;
    int saved = -1;
    std::thread reader;
    std::vector<std::string> packets;
};

std::vector<size_t> sizes(const std::vector<std::string>& packets)
{
    std::vector<size_t> result;
    for (const std::string& p : packets)
        result.push_back(p.size());
    return result;
}

} // namespace

TEST(Console, WritesInLoadsOfEightyCharacters)
{
    captured_stdout_t capture;
    {
        qm::console_t console;
        console << std::string(81, 'a'); // 80 in one write, then the 81st alone
        console << std::string(79, 'b'); // buffered
        console.flush();
        console << "line" << std::endl;
        console << std::string(200, 'c');
        console.flush();
        console << "left over"; // written by the destructor
    }
    std::vector<std::string> packets = capture.finish();
    EXPECT_EQ(sizes(packets), (std::vector<size_t>{80, 1, 79, 5, 80, 1, 80, 1, 38, 9}));
    ASSERT_EQ(packets.size(), 10u);
    EXPECT_EQ(packets[0], std::string(80, 'a'));
    EXPECT_EQ(packets[1], "a");
    EXPECT_EQ(packets[3], "line\n");
    EXPECT_EQ(packets[9], "left over");
}

TEST(Console, CharacterByCharacterInsertsMatch)
{
    captured_stdout_t capture;
    {
        qm::console_t console;
        for (int i = 0; i < 81; ++i)
            console.put('x');
        console << 12345 << ' ' << 1.5;
        console.flush();
    }
    EXPECT_EQ(sizes(capture.finish()), (std::vector<size_t>{80, 1, 9}));
}

TEST(Console, SeveralWritersLoseNothing)
{
    constexpr int writers = 4;
    constexpr int lines = 500;
    const std::string line = "writer line with some text in it\n"; // 33 characters
    captured_stdout_t capture;
    {
        qm::console_t console;
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w)
            threads.emplace_back([&] {
                for (int i = 0; i < lines; ++i) {
                    console.write(line.data(), static_cast<std::streamsize>(line.size()));
                    if (i % 50 == 0)
                        console.flush();
                }
            });
        for (std::thread& t : threads)
            t.join();
    }
    std::vector<std::string> packets = capture.finish();
    size_t total = 0;
    for (const std::string& p : packets) {
        EXPECT_LE(p.size(), 80u);
        total += p.size();
    }
    EXPECT_EQ(total, line.size() * writers * lines);
}

TEST(Console, ProcessWideStream)
{
    qm::console_t& first = qm::console();
    EXPECT_EQ(&first, &qm::console());
    captured_stdout_t capture;
    qm::console() << "from the shared stream" << std::endl;
    std::vector<std::string> packets = capture.finish();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], "from the shared stream\n");
}
