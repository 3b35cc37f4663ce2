// Writes a large X.DAT for the conversion benchmark: LINES lines of 13-digit
// article codes (DISTINCT of them) and small quantities, a few with fractions,
// CR LF ended. The same arguments always give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_received_file FILE LINES DISTINCT\n");
        return 64;
    }
    const long lines = std::atol(argv[2]);
    const long distinct = std::atol(argv[3]);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::vector<std::string> codes;
    for (long i = 0; i < distinct; ++i) {
        codes.push_back(std::to_string(7300000000000ull + next() % 100000000000ull));
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::string block;
    for (long i = 0; i < lines; ++i) {
        block += codes[next() % codes.size()];
        block += ';';
        const std::uint64_t r = next();
        block += std::to_string(1 + r % 20);
        if (r % 16 == 0)
            block += ".5";
        block += "\r\n";
        if (block.size() > (1 << 16)) {
            std::fwrite(block.data(), 1, block.size(), out);
            block.clear();
        }
    }
    std::fwrite(block.data(), 1, block.size(), out);
    return std::fclose(out) == 0 ? 0 : 1;
}
