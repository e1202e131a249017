// kiv_board_fill (--data DIR | --database URL) --games N --replay FILE
//
// Fills a board with N games to measure it: names and scores at random,
// times spread over the last 30 days, each with the same replay file. They
// go on the board without tickets or owners, in transactions of 5,000.
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "board/store.h"

int main(int argc, char** argv)
{
    using namespace kiv::board;
    StoreConfig config;
    config.data_dir = "board-data";
    long count = 0;
    std::string replay_path;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--data")
            config.data_dir = argv[i + 1];
        else if (a == "--database")
            config.database = argv[i + 1];
        else if (a == "--games")
            count = std::atol(argv[i + 1]);
        else if (a == "--replay")
            replay_path = argv[i + 1];
    }
    std::ifstream in(replay_path, std::ios::binary);
    std::string replay((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (count <= 0 || replay.empty()) {
        std::fprintf(stderr, "usage: kiv_board_fill (--data DIR | --database URL) --games N --replay FILE\n");
        return 2;
    }
    try {
        if (config.database.empty())
            std::filesystem::create_directories(config.data_dir);
        auto db = open_store(config);
        std::mt19937_64 random(12345);
        const char* const syllables[] = {"ka", "ri", "mo", "zen", "lu", "ta", "vi", "no", "sha", "el", "qu", "ib"};
        std::exponential_distribution<double> scores(1.0 / 300000.0);
        const std::int64_t now = now_ms(), month = 30LL * 24 * 3600 * 1000;
        for (long n = 0; n < count;) {
            Transaction t(*db);
            for (long in_batch = 0; in_batch < 5000 && n < count; in_batch++, n++) {
                std::string name;
                for (int s = 0; s < 2 + static_cast<int>(random() % 3); s++)
                    name += syllables[random() % 12];
                name[0] = static_cast<char>(name[0] - 'a' + 'A');
                const std::int64_t time = now - static_cast<std::int64_t>(random() % month);
                db->run("INSERT INTO games (name, score, time_ms, arrived_ms, seconds, replay) "
                        "VALUES (?, ?, ?, ?, ?, ?)",
                        {name, static_cast<std::int64_t>(scores(random)), time, time,
                         60.0 + static_cast<double>(random() % 600), Blob{replay}});
            }
            t.commit();
        }
        // As a board that has lived a while: the database knows its tables
        // (without statistics PostgreSQL sorts every game for the top 100).
        db->run("ANALYZE", {});
        std::printf("%ld games added\n", count);
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kiv_board_fill: %s\n", e.what());
        return 1;
    }
    return 0;
}
